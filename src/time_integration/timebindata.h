#ifndef VORTAN_TIME_INTEGRATION_TIMEBINDATA_H
#define VORTAN_TIME_INTEGRATION_TIMEBINDATA_H

#include "data/allvars.h"
#include "data/macros.h"

#ifndef TIMEBIN_COUNT
#define TIMEBIN_COUNT 29
#endif
static_assert(TIMEBIN_COUNT == TIMEBINS, "one count of time bins throughout");

// Per-bin doubly linked lists threaded through index arrays parallel to the
// particle array, plus the list of currently active particles.
class TimeBinData
{
 public:
  int NActiveParticles               = 0;
  long long GlobalNActiveParticles   = 0;
  int *ActiveParticleList            = nullptr;
  int TimeBinCount[TIMEBIN_COUNT]    = {};
  int FirstInTimeBin[TIMEBIN_COUNT]  = {};
  int LastInTimeBin[TIMEBIN_COUNT]   = {};
  int *NextInTimeBin                 = nullptr;
  int *PrevInTimeBin                 = nullptr;
  char Name[100]                     = {};
  int *MaxPart                       = nullptr;

  void timebins_init(const char *name, int *maxPart);
  void timebins_allocate();
  void timebins_reallocate();
  void timebins_free();

  void timebin_add_particle(int i_new, int i_old, int timeBin, int addToListOfActiveParticles)
  {
    check_bin(timeBin);
    TimeBinCount[timeBin]++;

    if(i_old < 0)
      i_old = LastInTimeBin[timeBin];

    if(i_old < 0)
      {
        FirstInTimeBin[timeBin] = LastInTimeBin[timeBin] = i_new;
        NextInTimeBin[i_new] = PrevInTimeBin[i_new] = -1;
      }
    else
      {
        int next             = NextInTimeBin[i_old];
        PrevInTimeBin[i_new] = i_old;
        NextInTimeBin[i_new] = next;
        if(next >= 0) // after the tail there is no successor to relink
          PrevInTimeBin[next] = i_new;
        NextInTimeBin[i_old] = i_new;
        if(LastInTimeBin[timeBin] == i_old)
          LastInTimeBin[timeBin] = i_new;
      }

    if(addToListOfActiveParticles)
      append_active(i_new);
  }

  // Removes the particle at entry idx of the active list from bin `bin`.
  void timebin_remove_particle(int idx, int bin)
  {
    int p                   = ActiveParticleList[idx];
    ActiveParticleList[idx] = -1;
    if(p < 0) // already removed: the count must not drop a second time
      return;

    check_bin(bin);
    TimeBinCount[bin]--;
    unlink(p, bin);
  }

  void timebin_move_particle(int p, int timeBin_old, int timeBin_new)
  {
    if(timeBin_old == timeBin_new)
      return;
    check_bin(timeBin_old);
    check_bin(timeBin_new);

    TimeBinCount[timeBin_old]--;
    unlink(p, timeBin_old);

    // Emptiness is read from the list itself, never from a count.
    int last = LastInTimeBin[timeBin_new];
    if(last < 0)
      {
        FirstInTimeBin[timeBin_new] = LastInTimeBin[timeBin_new] = p;
        NextInTimeBin[p] = PrevInTimeBin[p] = -1;
      }
    else
      {
        NextInTimeBin[last]        = p;
        PrevInTimeBin[p]           = last;
        NextInTimeBin[p]           = -1;
        LastInTimeBin[timeBin_new] = p;
      }
    TimeBinCount[timeBin_new]++;
  }

  void timebin_make_list_of_active_particles_up_to_timebin(int timebin)
  {
    NActiveParticles = 0;
    if(timebin >= TIMEBIN_COUNT)
      FATAL_ERROR("time bin %d out of range for the %s lists", timebin, Name);
    for(int b = timebin; b >= 0; b--)
      timebin_add_particles_of_timebin_to_list_of_active_particles(b);
  }

  void timebin_add_particles_of_timebin_to_list_of_active_particles(int timebin)
  {
    if(timebin < 0)
      return;
    check_bin(timebin);
    for(int i = FirstInTimeBin[timebin]; i >= 0; i = NextInTimeBin[i])
      append_active(i);
  }

 private:
  void check_bin(int bin) const
  {
    if(bin < 0 || bin >= TIMEBIN_COUNT)
      FATAL_ERROR("time bin %d out of range for the %s lists", bin, Name);
  }

  void append_active(int i)
  {
    if(NActiveParticles >= *MaxPart)
      FATAL_ERROR("active list of %s is full (%d entries)", Name, *MaxPart);
    ActiveParticleList[NActiveParticles++] = i;
  }

  void unlink(int p, int bin)
  {
    int prev = PrevInTimeBin[p], next = NextInTimeBin[p];
    if(FirstInTimeBin[bin] == p)
      FirstInTimeBin[bin] = next;
    if(LastInTimeBin[bin] == p)
      LastInTimeBin[bin] = prev;
    if(prev >= 0)
      NextInTimeBin[prev] = next;
    if(next >= 0)
      PrevInTimeBin[next] = prev;
  }
};

#endif
