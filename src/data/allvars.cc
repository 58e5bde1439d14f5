#include "data/allvars.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "data/macros.h"
#include <cmath>

global_data_all_processes All;

void global_data_all_processes::register_parameters()
{
  add_param("InitCondFile", InitCondFile, PARAM_STRING, PARAM_FIXED);
  add_param("OutputDir", OutputDir, PARAM_STRING, PARAM_CHANGEABLE);
  add_param("SnapshotFileBase", SnapshotFileBase, PARAM_STRING, PARAM_CHANGEABLE);
  add_param("OutputListFilename", OutputListFilename, PARAM_STRING, PARAM_CHANGEABLE);
  add_param("OutputListOn", &OutputListOn, PARAM_INT, PARAM_CHANGEABLE);

  add_param("Omega0", &Omega0, PARAM_DOUBLE, PARAM_FIXED);
  add_param("OmegaBaryon", &OmegaBaryon, PARAM_DOUBLE, PARAM_FIXED);
  add_param("OmegaLambda", &OmegaLambda, PARAM_DOUBLE, PARAM_FIXED);
  add_param("Hubble", &Hubble, PARAM_DOUBLE, PARAM_FIXED);
  add_param("HubbleParam", &HubbleParam, PARAM_DOUBLE, PARAM_FIXED);
  add_param("BoxSize", &BoxSize, PARAM_DOUBLE, PARAM_FIXED);

  add_param("MaxMemSize", &MaxMemSize, PARAM_INT, PARAM_CHANGEABLE);
  add_param("TimeOfFirstSnapshot", &TimeOfFirstSnapshot, PARAM_DOUBLE, PARAM_CHANGEABLE);
  add_param("CpuTimeBetRestartFile", &CpuTimeBetRestartFile, PARAM_DOUBLE, PARAM_CHANGEABLE);
  add_param("TimeBetStatistics", &TimeBetStatistics, PARAM_DOUBLE, PARAM_CHANGEABLE);
  add_param("TimeBegin", &TimeBegin, PARAM_DOUBLE, PARAM_FIXED);
  add_param("TimeMax", &TimeMax, PARAM_DOUBLE, PARAM_FIXED);
  add_param("TimeBetSnapshot", &TimeBetSnapshot, PARAM_DOUBLE, PARAM_CHANGEABLE);

  add_param("UnitVelocity_in_cm_per_s", &UnitVelocity_in_cm_per_s, PARAM_DOUBLE, PARAM_FIXED);
  add_param("UnitLength_in_cm", &UnitLength_in_cm, PARAM_DOUBLE, PARAM_FIXED);
  add_param("UnitMass_in_g", &UnitMass_in_g, PARAM_DOUBLE, PARAM_FIXED);
  add_param("GravityConstantInternal", &GravityConstantInternal, PARAM_DOUBLE, PARAM_FIXED);

  add_param("ErrTolIntAccuracy", &ErrTolIntAccuracy, PARAM_DOUBLE, PARAM_CHANGEABLE);
  add_param("ErrTolTheta", &ErrTolTheta, PARAM_DOUBLE, PARAM_CHANGEABLE);
  add_param("ErrTolThetaMax", &ErrTolThetaMax, PARAM_DOUBLE, PARAM_CHANGEABLE);
  add_param("ErrTolForceAcc", &ErrTolForceAcc, PARAM_DOUBLE, PARAM_CHANGEABLE);
  add_param("MaxSizeTimestep", &MaxSizeTimestep, PARAM_DOUBLE, PARAM_CHANGEABLE);
  add_param("MinSizeTimestep", &MinSizeTimestep, PARAM_DOUBLE, PARAM_CHANGEABLE);
  add_param("ArtBulkViscConst", &ArtBulkViscConst, PARAM_DOUBLE, PARAM_CHANGEABLE);
  add_param("CourantFac", &CourantFac, PARAM_DOUBLE, PARAM_CHANGEABLE);
  add_param("DesNumNgb", &DesNumNgb, PARAM_INT, PARAM_CHANGEABLE);
  add_param("TopNodeFactor", &TopNodeFactor, PARAM_DOUBLE, PARAM_CHANGEABLE);
  add_param("ActivePartFracForNewDomainDecomp", &ActivePartFracForNewDomainDecomp, PARAM_DOUBLE, PARAM_CHANGEABLE);
  add_param("MaxNumNgbDeviation", &MaxNumNgbDeviation, PARAM_DOUBLE, PARAM_CHANGEABLE);
  add_param("ComovingIntegrationOn", &ComovingIntegrationOn, PARAM_INT, PARAM_FIXED);
  add_param("ICFormat", &ICFormat, PARAM_INT, PARAM_CHANGEABLE);
  add_param("SnapFormat", &SnapFormat, PARAM_INT, PARAM_CHANGEABLE);
  add_param("NumFilesPerSnapshot", &NumFilesPerSnapshot, PARAM_INT, PARAM_CHANGEABLE);
  add_param("MaxFilesWithConcurrentIO", &MaxFilesWithConcurrentIO, PARAM_INT, PARAM_CHANGEABLE);
  add_param("TypeOfOpeningCriterion", &TypeOfOpeningCriterion, PARAM_INT, PARAM_FIXED);
  add_param("TimeLimitCPU", &TimeLimitCPU, PARAM_DOUBLE, PARAM_CHANGEABLE);
  add_param("InitGasTemp", &InitGasTemp, PARAM_DOUBLE, PARAM_FIXED);
  add_param("MinEgySpec", &MinEgySpec, PARAM_DOUBLE, PARAM_CHANGEABLE);

  static char tags[NSOFTCLASSES * 2 + NTYPES][MAXLEN_PARAM_TAG];
  int t = 0;
  for(int i = 0; i < NSOFTCLASSES; i++, t++)
    {
      snprintf(tags[t], MAXLEN_PARAM_TAG, "SofteningComovingClass%d", i);
      add_param(tags[t], &SofteningComoving[i], PARAM_DOUBLE, PARAM_FIXED);
    }
  for(int i = 0; i < NSOFTCLASSES; i++, t++)
    {
      snprintf(tags[t], MAXLEN_PARAM_TAG, "SofteningMaxPhysClass%d", i);
      add_param(tags[t], &SofteningMaxPhys[i], PARAM_DOUBLE, PARAM_FIXED);
    }
  for(int i = 0; i < NTYPES; i++, t++)
    {
      snprintf(tags[t], MAXLEN_PARAM_TAG, "SofteningClassOfPartType%d", i);
      add_param(tags[t], &SofteningClassOfPartType[i], PARAM_INT, PARAM_FIXED);
    }

  add_param("TreecoolFile", TreecoolFile, PARAM_STRING, PARAM_CHANGEABLE);
  add_param("CritOverDensity", &CritOverDensity, PARAM_DOUBLE, PARAM_FIXED);
  add_param("CritPhysDensity", &CritPhysDensity, PARAM_DOUBLE, PARAM_FIXED);
  add_param("FactorSN", &FactorSN, PARAM_DOUBLE, PARAM_FIXED);
  add_param("FactorEVP", &FactorEVP, PARAM_DOUBLE, PARAM_FIXED);
  add_param("TempSupernova", &TempSupernova, PARAM_DOUBLE, PARAM_FIXED);
  add_param("TempClouds", &TempClouds, PARAM_DOUBLE, PARAM_FIXED);
  add_param("MaxSfrTimescale", &MaxSfrTimescale, PARAM_DOUBLE, PARAM_FIXED);
}

void global_data_all_processes::read_outputlist(const char *fname)
{
  if(ThisTask == 0)
    {
      FILE *fd = fopen(fname, "r");
      if(!fd)
        FATAL_ERROR("can't read output list in file '%s'\n", fname);

      OutputListLength = 0;
      char buf[500];
      while(fgets(buf, sizeof(buf), fd))
        {
          double t;
          int flag;
          int n = sscanf(buf, " %lg %d ", &t, &flag);
          if(n < 1)
            continue;
          if(n == 1)
            flag = 1;
          if(OutputListLength >= MAXLEN_OUTPUTLIST)
            FATAL_ERROR("\ntoo many entries in output-list. You should increase MAXLEN_OUTPUTLIST=%d.\n", MAXLEN_OUTPUTLIST);
          OutputListTimes[OutputListLength] = t;
          OutputListFlag[OutputListLength]  = static_cast<char>(flag);
          OutputListLength++;
        }
      fclose(fd);
      printf("\nfound %d times in output-list.\n", OutputListLength);
    }
  if(NTask > 1)
    MPI_Bcast(get_data_ptr(), get_data_size(), MPI_BYTE, 0, Communicator);
}

bool global_data_all_processes::terminate_outputdir()
{
  size_t n = strlen(OutputDir);
  if(n == 0 || OutputDir[n - 1] == '/')
    return true;
  if(n + 1 >= sizeof(OutputDir))
    return false;
  OutputDir[n]     = '/';
  OutputDir[n + 1] = 0;
  return true;
}

void global_data_all_processes::some_parameter_checks()
{
  if(MaxFilesWithConcurrentIO > NTask)
    {
      mpi_printf("NOTICE: MaxFilesWithConcurrentIO has been reduced to the number of processors\n");
      MaxFilesWithConcurrentIO = NTask;
    }
  if(MaxFilesWithConcurrentIO == 0)
    {
      mpi_printf("NOTICE: MaxFilesWithConcurrentIO has been set to be equal to the number of processors\n");
      MaxFilesWithConcurrentIO = NTask;
    }
  if(SnapFormat < 1 || SnapFormat > 3)
    FATAL_ERROR("Unsupported File-Format: SnapFormat = %d\n", SnapFormat);

  if(NumFilesPerSnapshot > NTask)
    {
      mpi_printf("WARNING: Number of processors less than 'NumFilesPerSnapshot=%d' - reducing this to NumFilesPerSnapshot=%d\n",
                 NumFilesPerSnapshot, NTask);
      NumFilesPerSnapshot = NTask;
    }
  for(int type = 0; type < NTYPES; type++)
    if(SofteningClassOfPartType[type] < 0 || SofteningClassOfPartType[type] >= NSOFTCLASSES)
      FATAL_ERROR("SofteningClassOfPartType%d  invalid (NSOFTCLASSES=%d)\n", type, NSOFTCLASSES);
}

// Values that would crash or silently misbehave later are refused together with
// the other parameter-file errors, naming the parameter, before anything is
// sized from them. Returns the number of problems found (task 0 only).
int global_data_all_processes::validate_values()
{
  int nbad = 0;
#define BAD_VALUE(...)          \
  do                            \
    {                           \
      printf("Error in parameter file: " __VA_ARGS__); \
      nbad++;                   \
    }                           \
  while(0)
  if(ICFormat < 1 || ICFormat > 3)
    BAD_VALUE("Unsupported File-Format: ICFormat = %d\n", ICFormat);
  if(NumFilesPerSnapshot <= 0)
    BAD_VALUE("NumFilesPerSnapshot=%d must be at least 1\n", NumFilesPerSnapshot);
  if(MaxFilesWithConcurrentIO < 0)
    BAD_VALUE("MaxFilesWithConcurrentIO=%d must not be negative\n", MaxFilesWithConcurrentIO);
  if(MaxMemSize <= 0)
    BAD_VALUE("MaxMemSize=%d must be positive (megabytes per task)\n", MaxMemSize);
  if(!(TimeMax > TimeBegin))
    BAD_VALUE("TimeMax=%g must be larger than TimeBegin=%g\n", TimeMax, TimeBegin);
  if(ComovingIntegrationOn && !(TimeBegin > 0))
    BAD_VALUE("TimeBegin=%g must be positive in a comoving run (it is the scale factor)\n", TimeBegin);
  if(!(MaxSizeTimestep > 0))
    BAD_VALUE("MaxSizeTimestep=%g must be positive\n", MaxSizeTimestep);
  if(MinSizeTimestep < 0)
    BAD_VALUE("MinSizeTimestep=%g must not be negative\n", MinSizeTimestep);
  if(MinSizeTimestep > MaxSizeTimestep)
    BAD_VALUE("MinSizeTimestep=%g is larger than MaxSizeTimestep=%g\n", MinSizeTimestep, MaxSizeTimestep);
  if(!(UnitLength_in_cm > 0))
    BAD_VALUE("UnitLength_in_cm=%g must be positive\n", UnitLength_in_cm);
  if(!(UnitMass_in_g > 0))
    BAD_VALUE("UnitMass_in_g=%g must be positive\n", UnitMass_in_g);
  if(!(UnitVelocity_in_cm_per_s > 0))
    BAD_VALUE("UnitVelocity_in_cm_per_s=%g must be positive\n", UnitVelocity_in_cm_per_s);
  if(GravityConstantInternal < 0)
    BAD_VALUE("GravityConstantInternal=%g must not be negative (0 derives it from the units)\n", GravityConstantInternal);
  if(!(ErrTolTheta > 0))
    BAD_VALUE("ErrTolTheta=%g must be positive\n", ErrTolTheta);
  if(!(ErrTolThetaMax > 0))
    BAD_VALUE("ErrTolThetaMax=%g must be positive\n", ErrTolThetaMax);
  if(!(ErrTolForceAcc > 0))
    BAD_VALUE("ErrTolForceAcc=%g must be positive\n", ErrTolForceAcc);
  if(!(ErrTolIntAccuracy > 0))
    BAD_VALUE("ErrTolIntAccuracy=%g must be positive\n", ErrTolIntAccuracy);
  if(!(CourantFac > 0))
    BAD_VALUE("CourantFac=%g must be positive\n", CourantFac);
  if(TypeOfOpeningCriterion < 0 || TypeOfOpeningCriterion > 1)
    BAD_VALUE("TypeOfOpeningCriterion=%d is not one of 0 (geometric) or 1 (relative)\n", TypeOfOpeningCriterion);
  if(DesNumNgb <= 0)
    BAD_VALUE("DesNumNgb=%d must be positive\n", DesNumNgb);
  if(MaxNumNgbDeviation < 0)
    BAD_VALUE("MaxNumNgbDeviation=%g must not be negative\n", MaxNumNgbDeviation);
  if(!(TopNodeFactor > 0))
    BAD_VALUE("TopNodeFactor=%g must be positive\n", TopNodeFactor);
  if(ActivePartFracForNewDomainDecomp < 0 || ActivePartFracForNewDomainDecomp > 1)
    BAD_VALUE("ActivePartFracForNewDomainDecomp=%g must lie in [0, 1]\n", ActivePartFracForNewDomainDecomp);
  if(!(TimeBetSnapshot > 0))
    BAD_VALUE("TimeBetSnapshot=%g must be positive\n", TimeBetSnapshot);
  if(ComovingIntegrationOn && OutputListOn == 0 && !(TimeBetSnapshot > 1))
    BAD_VALUE("TimeBetSnapshot=%g must be larger than 1 in a comoving run (it is a factor)\n", TimeBetSnapshot);
  if(ComovingIntegrationOn != 0 && ComovingIntegrationOn != 1)
    BAD_VALUE("ComovingIntegrationOn=%d must be 0 or 1\n", ComovingIntegrationOn);
  if(OutputListOn != 0 && OutputListOn != 1)
    BAD_VALUE("OutputListOn=%d must be 0 or 1\n", OutputListOn);
  if(ComovingIntegrationOn && !(HubbleParam > 0))
    BAD_VALUE("HubbleParam=%g must be positive in a comoving run\n", HubbleParam);
  if(TimeLimitCPU < 0)
    BAD_VALUE("TimeLimitCPU=%g must not be negative\n", TimeLimitCPU);
  if(CpuTimeBetRestartFile < 0)
    BAD_VALUE("CpuTimeBetRestartFile=%g must not be negative\n", CpuTimeBetRestartFile);
  if(RestartFlag == RST_CONVERTSNAP && strlen(SnapshotFileBase) + strlen("_converted") >= sizeof(SnapshotFileBase))
    BAD_VALUE("SnapshotFileBase='%s' is too long to take \"_converted\" for the converted snapshot\n", SnapshotFileBase);
  if(!(TimeBetStatistics > 0))
    BAD_VALUE("TimeBetStatistics=%g must be positive\n", TimeBetStatistics);
  if(InitGasTemp < 0)
    BAD_VALUE("InitGasTemp=%g must not be negative\n", InitGasTemp);
  if(MinEgySpec < 0)
    BAD_VALUE("MinEgySpec=%g must not be negative\n", MinEgySpec);
  for(int i = 0; i < NSOFTCLASSES; i++)
    if(SofteningComoving[i] < 0 || SofteningMaxPhys[i] < 0)
      BAD_VALUE("SofteningComovingClass%d=%g and SofteningMaxPhysClass%d=%g must not be negative\n", i, SofteningComoving[i], i,
                  SofteningMaxPhys[i]);

#undef BAD_VALUE
  return nbad;
}

void global_data_all_processes::set_cosmo_factors_for_current_time()
{
  if(ComovingIntegrationOn)
    {
      double a           = Time;
      cf_atime           = a;
      cf_atime2          = a * a;
      cf_ainv            = 1 / a;
      cf_a2inv           = 1 / (a * a);
      cf_a3inv           = 1 / (a * a * a);
      cf_afac1           = pow(a, 3 * GAMMA_MINUS1);
      cf_afac2           = 1 / pow(a, 3 * GAMMA - 2);
      cf_afac3           = pow(a, -3 * GAMMA_MINUS1 / 2);
      double H           = Hubble * sqrt(Omega0 / (a * a * a) + (1 - Omega0 - OmegaLambda) / (a * a) + OmegaLambda);
      cf_H               = H;
      cf_hubble_a        = H;
      cf_atime_hubble_a  = a * H;
      cf_atime2_hubble_a = a * a * H;
      cf_redshift        = 1 / a - 1;
    }
  else
    {
      cf_atime = cf_atime2 = cf_ainv = cf_a2inv = cf_a3inv = 1;
      cf_afac1 = cf_afac2 = cf_afac3 = 1;
      cf_H                                                 = 0;
      cf_hubble_a = cf_atime_hubble_a = cf_atime2_hubble_a = 1;
      cf_redshift                                          = 0;
    }
}

void global_data_all_processes::derive_units()
{
  UnitTime_in_s         = UnitLength_in_cm / UnitVelocity_in_cm_per_s;
  UnitTime_in_Megayears = UnitTime_in_s / SEC_PER_MEGAYEAR;
  UnitTime_in_years     = UnitTime_in_s / SEC_PER_YEAR;

  if(GravityConstantInternal == 0)
    G = GRAVITY / (UnitLength_in_cm * UnitLength_in_cm * UnitLength_in_cm) * UnitMass_in_g * UnitTime_in_s *
            UnitTime_in_s;
  else
    G = GravityConstantInternal;

  UnitDensity_in_cgs     = UnitMass_in_g / (UnitLength_in_cm * UnitLength_in_cm * UnitLength_in_cm);
  UnitPressure_in_cgs    = UnitMass_in_g / UnitLength_in_cm / (UnitTime_in_s * UnitTime_in_s);
  UnitCoolingRate_in_cgs = UnitPressure_in_cgs / UnitTime_in_s;
  UnitEnergy_in_cgs      = UnitMass_in_g * UnitLength_in_cm * UnitLength_in_cm / (UnitTime_in_s * UnitTime_in_s);

  if(ComovingIntegrationOn)
    {
      if(HubbleParam != 1)
        {
          double expected = HUBBLE * UnitTime_in_s;
          if(fabs(expected - Hubble) > 1.0e-3 * Hubble)
            FATAL_ERROR(
                "You have supplied All.Hubble=%g/All.HubbleParam=%g. For this choice, we would expect All.Hubble=%g. We better stop\n",
                Hubble, HubbleParam, expected);
        }
      else
        {
          double expected = 0.7 * HUBBLE * UnitTime_in_s;
          if(Hubble < 0.5 * expected || Hubble > 2.0 * expected)
            FATAL_ERROR(
                "You have supplied All.Hubble=%g/All.HubbleParam=%g. For this choice, we would expect All.Hubble somewhere in the "
                "ballpark of %g. We better stop\n",
                Hubble, HubbleParam, expected);
        }
    }
}
