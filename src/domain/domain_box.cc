#include "domain/domain_box.h"

#include "data/macros.h"

namespace
{
constexpr MyIntPosType INSIDE_LO = MyIntPosType(5) << 60;
constexpr MyIntPosType INSIDE_HI = MyIntPosType(11) << 60;
constexpr int MAX_WIDENINGS      = 5;

bool all_inside(const simparticles *Sp)
{
  int outside = 0;
  for(int i = 0; i < Sp->NumPart && !outside; i++)
    for(int k = 0; k < 3; k++)
      if(Sp->P[i].IntPos[k] < INSIDE_LO || Sp->P[i].IntPos[k] > INSIDE_HI)
        {
          outside = 1;
          break;
        }
  int any;
  MPI_Allreduce(&outside, &any, 1, MPI_INT, MPI_MAX, Sp->Communicator);
  return any == 0;
}
}  // namespace

int domain_widen_region(simparticles *Sp)
{
  int n = 0;
  while(!all_inside(Sp))
    {
      if(++n > MAX_WIDENINGS)
        FATAL_ERROR("too many iterations");
      Sp->mpi_printf("DOMAIN: Simulation region has enlarged, need to adjusted mapping.\n");
      for(int i = 0; i < Sp->NumPart; i++)
        for(int k = 0; k < 3; k++)
          Sp->P[i].IntPos[k] = Sp->P[i].IntPos[k] / 2 + (MyIntPosType(1) << 62);
      Sp->FacCoordToInt *= 0.5;
      Sp->FacIntToCoord *= 2;
      Sp->RegionLen *= 2;
      for(int k = 0; k < 3; k++)
        Sp->RegionCorner[k] = Sp->RegionCenter[k] - 0.5 * Sp->RegionLen;
    }
  return n;
}
