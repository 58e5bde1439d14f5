#include "data/simparticles.h"

#include <algorithm>
#include <cstring>

#include "data/mymalloc.h"

void simparticles::allocate_memory()
{
  P    = static_cast<particle_data *>(mymalloc_movable_clear(&P, "P", MaxPart * sizeof(particle_data)));
  SphP = static_cast<sph_particle_data *>(mymalloc_movable_clear(&SphP, "SphP", MaxPartSph * sizeof(sph_particle_data)));

  TimeBinsHydro.timebins_allocate();
  TimeBinsGravity.timebins_allocate();
}

void simparticles::allocate_memory_cleared_from(int npart, int ngas)
{
  npart = std::clamp(npart, 0, MaxPart);
  ngas  = std::clamp(ngas, 0, MaxPartSph);
  P     = static_cast<particle_data *>(mymalloc_movable(&P, "P", MaxPart * sizeof(particle_data)));
  SphP  = static_cast<sph_particle_data *>(mymalloc_movable(&SphP, "SphP", MaxPartSph * sizeof(sph_particle_data)));
  memset(static_cast<void *>(P + npart), 0, (size_t)(MaxPart - npart) * sizeof(particle_data));
  memset(static_cast<void *>(SphP + ngas), 0, (size_t)(MaxPartSph - ngas) * sizeof(sph_particle_data));

  TimeBinsHydro.timebins_allocate();
  TimeBinsGravity.timebins_allocate();
}

void simparticles::free_memory()
{
  TimeBinsGravity.timebins_free();
  TimeBinsHydro.timebins_free();
  myfree_movable(SphP);
  myfree_movable(P);
}

void simparticles::reallocate_memory_maxpart(int maxpartNew)
{
  mpi_printf("ALLOCATE: Changing to MaxPart = %d\n", maxpartNew);

  P = static_cast<particle_data *>(myrealloc_movable(P, maxpartNew * sizeof(particle_data)));
  if(maxpartNew > MaxPart)
    memset(static_cast<void *>(P + MaxPart), 0, (maxpartNew - MaxPart) * sizeof(particle_data));
  MaxPart = maxpartNew;

  TimeBinsGravity.timebins_reallocate();
}

void simparticles::reallocate_memory_maxpartsph(int maxpartsphNew)
{
  mpi_printf("ALLOCATE: Changing to MaxPartSph = %d\n", maxpartsphNew);

  SphP = static_cast<sph_particle_data *>(myrealloc_movable(SphP, maxpartsphNew * sizeof(sph_particle_data)));
  if(maxpartsphNew > MaxPartSph)
    memset(static_cast<void *>(SphP + MaxPartSph), 0, (maxpartsphNew - MaxPartSph) * sizeof(sph_particle_data));
  MaxPartSph = maxpartsphNew;

  TimeBinsHydro.timebins_reallocate();
}

void simparticles::timebin_cleanup_list_of_active_particles()
{
  for(int idx = 0; idx < TimeBinsGravity.NActiveParticles; idx++)
    {
      int i = TimeBinsGravity.ActiveParticleList[idx];
      if(i >= 0 && is_deleted(i))
        TimeBinsGravity.timebin_remove_particle(idx, P[i].TimeBinGrav);
    }

  for(int idx = 0; idx < TimeBinsHydro.NActiveParticles; idx++)
    {
      int i = TimeBinsHydro.ActiveParticleList[idx];
      if(i >= 0 && is_deleted(i) && P[i].getType() == 0)
        TimeBinsHydro.timebin_remove_particle(idx, P[i].TimeBinHydro);
    }
}
