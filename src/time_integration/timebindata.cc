#include "time_integration/timebindata.h"

#include <cstdio>
#include <cstring>

#include "data/mymalloc.h"

void TimeBinData::timebins_init(const char *name, int *maxPart)
{
  NActiveParticles       = 0;
  GlobalNActiveParticles = 0;
  ActiveParticleList     = nullptr;
  NextInTimeBin          = nullptr;
  PrevInTimeBin          = nullptr;

  // The counts are zeroed too, so that a move before the first rebuild of the
  // lists does not start from garbage.
  for(int b = 0; b < TIMEBIN_COUNT; b++)
    {
      TimeBinCount[b]   = 0;
      FirstInTimeBin[b] = -1;
      LastInTimeBin[b]  = -1;
    }

  strncpy(Name, name, sizeof(Name) - 1);
  Name[sizeof(Name) - 1] = 0;
  MaxPart                = maxPart;
}

void TimeBinData::timebins_allocate()
{
  char label[200];
  size_t n = static_cast<size_t>(*MaxPart) * sizeof(int);

  snprintf(label, sizeof(label), "NextActiveParticle%s", Name);
  ActiveParticleList = static_cast<int *>(mymalloc_movable(&ActiveParticleList, label, n));

  snprintf(label, sizeof(label), "NextInTimeBin%s", Name);
  NextInTimeBin = static_cast<int *>(mymalloc_movable(&NextInTimeBin, label, n));

  snprintf(label, sizeof(label), "PrevInTimeBin%s", Name);
  PrevInTimeBin = static_cast<int *>(mymalloc_movable(&PrevInTimeBin, label, n));
}

void TimeBinData::timebins_reallocate()
{
  if(!ActiveParticleList)
    return;
  size_t n           = static_cast<size_t>(*MaxPart) * sizeof(int);
  ActiveParticleList = static_cast<int *>(myrealloc_movable(ActiveParticleList, n));
  NextInTimeBin      = static_cast<int *>(myrealloc_movable(NextInTimeBin, n));
  PrevInTimeBin      = static_cast<int *>(myrealloc_movable(PrevInTimeBin, n));
}

void TimeBinData::timebins_free()
{
  myfree_movable(PrevInTimeBin);
  myfree_movable(NextInTimeBin);
  myfree_movable(ActiveParticleList);
  PrevInTimeBin      = nullptr;
  NextInTimeBin      = nullptr;
  ActiveParticleList = nullptr;
}
