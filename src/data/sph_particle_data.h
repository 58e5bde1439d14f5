#ifndef VORTAN_DATA_SPH_PARTICLE_DATA_H
#define VORTAN_DATA_SPH_PARTICLE_DATA_H

#include <cmath>

#include "data/constants.h"
#include "data/dtypes.h"
#include "data/macros.h"

// The part of the gas record that neighbour searches on other ranks read.
struct sph_particle_data_hydrocore
{
  MyFloat Hsml;
  MyFloat DhsmlDensityFactor;
  MyFloat VelPred[3];
  MyFloat DivVel;
  MyFloat CurlVel;
  MyFloat Csnd;
  MyFloat Density;
  MyFloat Pressure;
};

struct sph_particle_data : public sph_particle_data_hydrocore
{
  MyFloat Entropy;
  MyFloat EntropyPred;
  MyFloat HydroAccel[3];
  MyFloat DtEntropy;
  MyFloat DtDensity;
  MyFloat DtHsml;
  MyFloat NumNgb;
  MyFloat Rot[3];
  MyFloat MaxSignalVel;
  MyFloat CurrentMaxTiStep;
  MyFloat Metallicity;
  MyFloat MassMetallicity;
  MyFloat Ne;
  MyFloat Sfr;

  MyFloat get_Hsml() const { return Hsml; }
  MyFloat get_pressure() const { return Pressure; }
  MyFloat get_sound_speed() const { return Csnd; }

  void set_thermodynamic_variables()
  {
    Pressure = EntropyPred * std::pow(Density, GAMMA);

    // A negative predicted density gives NaN here; "not >= 0" stops on it
    // instead of letting it spread.
    if(!(Pressure >= 0))
      FATAL_ERROR("Pressure=%g  rho=%g  entr=%g entrpred=%g\n", Pressure, Density, Entropy, EntropyPred);

    Csnd = Density > 0 ? std::sqrt(GAMMA * Pressure / Density) : 0;
  }
};

#endif
