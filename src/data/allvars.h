#ifndef VORTAN_DATA_ALLVARS_H
#define VORTAN_DATA_ALLVARS_H

#include "data/constants.h"
#include "data/dtypes.h"
#include "io/parameters.h"

#define TIMEBINS 29

enum restart_options
{
  RST_BEGIN,
  RST_RESUME,
  RST_STARTFROMSNAP,
  RST_FOF,
  RST_POWERSPEC,
  RST_CONVERTSNAP,
  RST_CREATEICS,
  RST_CALCDESC,
  RST_MAKETREES,
  RST_IOBANDWIDTH,
  RST_LCREARRANGE,
  RST_SNPREARRANGE
};
#define RST_NUM_OPTIONS 12

// The data part of the run record: plain data only, copied as bytes between
// tasks, to the listeners and into restart files.
struct global_data_run
{
  // input and output
  char TreecoolFile[255];
  double TopNodeFactor;
  int ICFormat, SnapFormat, NumFilesPerSnapshot, MaxFilesWithConcurrentIO;

  // memory factors of the trees and the domain
  double TreeAllocFactor, TopNodeAllocFactor, NgbTreeAllocFactor, ForeignNodeAllocFactor, ForeignPointAllocFactor;

  enum restart_options RestartFlag;
  int MaxMemSize; // megabytes per task

  // SPH
  int DesNumNgb;
  long long GlobalNSynchronizedHydro, GlobalNSynchronizedGravity;
  double MaxNumNgbDeviation, ArtBulkViscConst, InitGasTemp, InitGasU, MinEgySpec;

  // work counters
  long long TotNumOfForces, TotNumDirectForces, TotNumDensity, TotNumHydro;

  // cosmological factors for the current time
  double cf_atime, cf_atime2, cf_ainv, cf_a2inv, cf_a3inv, cf_afac1, cf_afac2, cf_afac3, cf_hubble_a, cf_atime_hubble_a,
      cf_atime2_hubble_a, cf_redshift, cf_H;
  double accel_normalize_fac;

  // units
  double UnitTime_in_s, UnitMass_in_g, UnitVelocity_in_cm_per_s, UnitLength_in_cm, UnitPressure_in_cgs, UnitDensity_in_cgs,
      UnitCoolingRate_in_cgs, UnitEnergy_in_cgs, UnitTime_in_Megayears, UnitTime_in_years, GravityConstantInternal, G;

  // cosmology
  double Hubble, Omega0, OmegaLambda, OmegaBaryon, HubbleParam, BoxSize;
  int ComovingIntegrationOn, TypeOfOpeningCriterion, OutputListOn;

  // time-bin summary
  int LowestActiveTimeBin, HighestActiveTimeBin, LowestOccupiedTimeBin, HighestOccupiedTimeBin, LowestOccupiedGravTimeBin,
      HighestOccupiedGravTimeBin, HighestSynchronizedTimeBin, SmallestTimeBinWithDomainDecomposition;
  double ActivePartFracForNewDomainDecomp;

  // output and restart schedule
  int SnapshotFileCount;
  double TimeBetSnapshot, TimeOfFirstSnapshot, CpuTimeBetRestartFile, TimeLastRestartFile, TimeBetStatistics, TimeLastStatistics;

  // clock
  int NumCurrentTiStep;
  double Time, TimeBegin, TimeStep, TimeMax, TimeOld, Timebase_interval;
  integertime Ti_Current, Ti_nextoutput, Ti_lastoutput;
  char DumpFlag_nextoutput;
  integertime Ti_begstep[TIMEBINS];
  double TimeLimitCPU, CPUForLastPMExecution;

  // accuracy
  double ErrTolTheta, ErrTolThetaMax, ErrTolForceAcc;
  char RelOpeningCriterionInUse;
  double ErrTolIntAccuracy, MinSizeTimestep, MaxSizeTimestep, CourantFac;

  // CPU cost per time bin
  int CPU_TimeBinCountMeasurements[TIMEBINS];
  double CPU_TimeBinMeasurements[TIMEBINS][6];

  // softening and masses
  int SofteningClassOfPartType[NTYPES];
  double SofteningComoving[NSOFTCLASSES], SofteningMaxPhys[NSOFTCLASSES], SofteningTable[NSOFTCLASSES];
  double ForceSoftening[NSOFTCLASSES + 2];
  double MassTable[NTYPES];

  // file names
  char InitCondFile[MAXLEN_PATH], OutputDir[MAXLEN_PATH], SnapshotFileBase[MAXLEN_PATH], OutputListFilename[MAXLEN_PATH];

  // output list
  double OutputListTimes[MAXLEN_OUTPUTLIST];
  char OutputListFlag[MAXLEN_OUTPUTLIST];
  int OutputListLength;

  // star-formation model
  double CritOverDensity, CritPhysDensity, OverDensThresh, PhysDensThresh, EgySpecSN, EgySpecCold, FactorEVP, TempSupernova,
      TempClouds, MaxSfrTimescale, FactorSN;

  MyIDType MaxID;
};

class global_data_all_processes : public parameters, public global_data_run
{
 public:
  global_data_all_processes() : global_data_run() {}

  void *get_data_ptr() { return static_cast<global_data_run *>(this); }
  size_t get_data_size() const { return sizeof(global_data_run); }

  void register_parameters();
  void read_outputlist(const char *fname);
  void some_parameter_checks();
  int validate_values();
  void set_cosmo_factors_for_current_time();
  // The unit system and the consistency check of Hubble; fatal when inconsistent.
  void derive_units();
  // Appends a "/" to OutputDir when missing; false when it would not fit.
  bool terminate_outputdir();
};

extern global_data_all_processes All;

#endif
