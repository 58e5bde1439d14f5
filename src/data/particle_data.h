#ifndef VORTAN_DATA_PARTICLE_DATA_H
#define VORTAN_DATA_PARTICLE_DATA_H

#include "data/allvars.h"
#include "data/dtypes.h"

// One particle. Kept trivially copyable so records can be moved as bytes (the
// allocator, MPI exchanges, restart files). The two fields that other ranks of
// the island touch concurrently, Ti_Current and access, are only used through
// the atomic accessors below.
struct particle_data
{
  MyIntPosType IntPos[3];
  MyFloat Vel[3];
  vector<double> GravAccel;
  integertime Ti_Current;
  float OldAcc;
  int GravCost;
  MyDouble Mass;
  MyIDStorage ID;
  signed char TimeBinGrav;
  signed char TimeBinHydro;
  unsigned char Type;
  unsigned char access;
  unsigned char SofteningClass : 7;
  unsigned char SofteningClassSpareBit : 1; // not ours; setting the class keeps it
  MyFloat StellarAge;
  MyFloat Metallicity;

  MyDouble getMass() const { return Mass; }
  void setMass(MyDouble m) { Mass = m; }
  unsigned char getType() const { return Type; }
  void setType(unsigned char t) { Type = t; }
  signed char getTimeBinGrav() const { return TimeBinGrav; }
  signed char getTimeBinHydro() const { return TimeBinHydro; }
  void setTimeBinHydro(signed char b) { TimeBinHydro = b; }
  unsigned char getSofteningClass() const { return SofteningClass; }
  void setSofteningClass(unsigned char c) { SofteningClass = c & 0x7f; }
  int getGravCost() const { return GravCost; }
  float getOldAcc() const { return OldAcc; }
  MyFloat getAscale() const { return All.Time; }

  integertime get_Ti_Current() const { return __atomic_load_n(&Ti_Current, __ATOMIC_ACQUIRE); }
  void set_Ti_Current(integertime t) { __atomic_store_n(&Ti_Current, t, __ATOMIC_RELEASE); }

  // Spin lock around a drift that another rank of the island may race with.
  void lock()
  {
    while(__atomic_exchange_n(&access, static_cast<unsigned char>(1), __ATOMIC_ACQUIRE))
      ;
  }
  void unlock() { __atomic_store_n(&access, static_cast<unsigned char>(0), __ATOMIC_RELEASE); }
};

#endif
