#ifndef VORTAN_DATA_CONSTANTS_H
#define VORTAN_DATA_CONSTANTS_H

// The compile-time option set of this build. The list printed at start-up and
// stored in HDF5 files comes from build/compile_time_info.cc; keep both in step.
#define COOLING
#define DOUBLEPRECISION 1
#define VORTAN2_HEADER
#define MULTIPOLE_ORDER 3
#define NSOFTCLASSES 2
#define NTYPES 6
#define POSITIONS_IN_64BIT
#define SELFGRAVITY
#define STARFORMATION
#define TREE_NUM_BEFORE_NODESPLIT 4

#define VORTAN_VERSION "1.0"

// Physical constants in cgs units.
#define GRAVITY 6.6738e-8
#define SOLAR_MASS 1.989e33
#define BOLTZMANN 1.38065e-16
#define PROTONMASS 1.67262178e-24
#define HUBBLE 3.2407789e-18 /* in h/sec */
#define SEC_PER_MEGAYEAR 3.15576e13
#define SEC_PER_YEAR 3.15576e7
#define GAMMA (5.0 / 3)
#define GAMMA_MINUS1 (GAMMA - 1)
#define HYDROGEN_MASSFRAC 0.76

#define MAXLEN_PATH 512      // maximum length of a path name
#define MAXLEN_PATH_EXTRA 2048
#define MAX_PARAMETERS 300   // size of the parameter registry
#define MAXLEN_PARAM_TAG 50
#define MAXLEN_PARAM_VALUE 200
#define MAXLEN_OUTPUTLIST 1100

#endif
