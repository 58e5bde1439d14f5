// Parameter registry, file reader, value checks, units and cosmological factors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include <unistd.h>

#include "data/allvars.h"

// Fatal errors print to standard output; the death test reads standard error.
#define EXPECT_FATAL(stmt, regex)                \
  EXPECT_EXIT(                                   \
      {                                          \
        fflush(stdout);                          \
        dup2(STDERR_FILENO, STDOUT_FILENO);      \
        stmt;                                    \
      },                                         \
      testing::ExitedWithCode(1), regex)

namespace
{
std::string tmpdir()
{
  static std::string dir;
  if(dir.empty())
    {
      char tmpl[] = "/tmp/vortan_params_XXXXXX";
      dir         = mkdtemp(tmpl);
    }
  return dir;
}

std::string slurp(const std::string &path)
{
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string write_file(const std::string &name, const std::string &text)
{
  std::string path = tmpdir() + "/" + name;
  std::ofstream(path) << text;
  return path;
}

std::string example_text() { return slurp(VORTAN_EXAMPLE_PARAM); }

// Replaces the value of one tag in a parameter text (first occurrence).
std::string with_value(std::string text, const std::string &tag, const std::string &value)
{
  size_t pos = text.find("\n" + tag + " ");
  EXPECT_NE(pos, std::string::npos) << tag;
  size_t end = text.find('\n', pos + 1);
  return text.substr(0, pos + 1) + tag + " " + value + text.substr(end);
}

std::string without_tag(std::string text, const std::string &tag)
{
  size_t pos = text.find("\n" + tag + " ");
  size_t end = text.find('\n', pos + 1);
  return text.substr(0, pos) + text.substr(end);
}

struct reader_result
{
  int error;
  std::string out;
};

// Reads a parameter text into a fresh run record, capturing what it prints.
reader_result read_text(global_data_all_processes &rec, const std::string &text, const std::string &name = "param.txt")
{
  std::string path = write_file(name, text);
  rec.register_parameters();
  testing::internal::CaptureStdout();
  int err = rec.read_parameter_file(path.c_str());
  return {err, testing::internal::GetCapturedStdout()};
}
}  // namespace

TEST(ParameterReader, ExampleFileReadsAndReportsInFileOrder)
{
  auto rec = std::make_unique<global_data_all_processes>();
  std::string text = example_text() + "\n# trailing comment\n\nExtraWordsAreFine\n";
  auto r           = read_text(*rec, with_value(text, "TimeMax", "3.0  trailing words after the value"));
  ASSERT_EQ(r.error, 0) << r.out;
  EXPECT_EQ(rec->NParameters, 61);
  EXPECT_DOUBLE_EQ(rec->TimeMax, 3.0);
  EXPECT_EQ(rec->DesNumNgb, 64);
  EXPECT_STREQ(rec->SnapshotFileBase, "snap");
  EXPECT_EQ(rec->SofteningClassOfPartType[1], 1);
  EXPECT_DOUBLE_EQ(rec->SofteningComoving[1], 0.02);

  // The "-usedvalues" report lists tags in file order, "%-50s" then the value.
  std::string used = slurp(tmpdir() + "/param.txt-usedvalues");
  char expect[200];
  snprintf(expect, sizeof expect, "%-50s%s\n%-50s%s\n", "InitCondFile", "ics/gas_collapse", "OutputDir", "output");
  EXPECT_EQ(used.substr(0, strlen(expect)), expect);
  snprintf(expect, sizeof expect, "%-50s%g\n", "TempSupernova", 1.0e8);
  EXPECT_NE(used.find(expect), std::string::npos);
  EXPECT_EQ(std::count(used.begin(), used.end(), '\n'), 61);
  EXPECT_LT(used.find("OutputListOn"), used.find("ComovingIntegrationOn"));
  EXPECT_LT(used.find("ComovingIntegrationOn"), used.find("Omega0 "));  // file order, not registry order

  // The same report is echoed, indented by eight blanks.
  EXPECT_NE(r.out.find("        " + std::string(expect)), std::string::npos);

  std::string outdir = tmpdir() + "/out/";
  rec->write_used_parameters(outdir.c_str(), "parameters-usedvalues");
  EXPECT_EQ(slurp(outdir + "parameters-usedvalues"), used);
}

TEST(ParameterReader, ErrorsAreReportedAndFailTheRead)
{
  const std::string ex = example_text();
  struct bad_case
  {
    const char *what;
    std::string text;
    const char *message;
  } cases[] = {
      {"unknown tag", ex + "NoSuchTag 1\n", "Tag 'NoSuchTag' not allowed"},
      {"repeated tag", ex + "DesNumNgb 32\n", "Tag 'DesNumNgb' multiply defined."},
      {"missing tag", without_tag(ex, "CourantFac"), "I miss a value for tag 'CourantFac'"},
      {"tag without value", without_tag(ex, "CourantFac") + "CourantFac\n", "I miss a value for tag 'CourantFac'"},
      {"trailing junk in a number", with_value(ex, "ErrTolTheta", "1e-3x"), "Tag 'ErrTolTheta' has value '1e-3x'"},
      {"word for a number", with_value(ex, "TimeMax", "abc"), "Tag 'TimeMax' has value 'abc'"},
      {"integer out of range", with_value(ex, "DesNumNgb", "3000000000"), "Tag 'DesNumNgb' has value '3000000000'"},
      {"fraction for an integer", with_value(ex, "DesNumNgb", "6.5"), "Tag 'DesNumNgb' has value '6.5'"},
      {"string too long", with_value(ex, "TreecoolFile", std::string(300, 'x')), "Tag 'TreecoolFile' has a value of 300 characters"},
      {"overlong line", ex + "% " + std::string(600, 'c') + "\n", "line 86 is longer than 449 characters"},
      {"number too large", with_value(ex, "TimeMax", "1e999"), "Tag 'TimeMax' has value '1e999'"},
  };
  for(const auto &c : cases)
    {
      auto rec = std::make_unique<global_data_all_processes>();
      auto r   = read_text(*rec, c.text);
      EXPECT_NE(r.error, 0) << c.what;
      EXPECT_NE(r.out.find(c.message), std::string::npos) << c.what << "\n" << r.out;
    }
}

TEST(ParameterReader, TinyValuesAreNotErrors)
{
  auto rec = std::make_unique<global_data_all_processes>();
  auto r   = read_text(*rec, with_value(example_text(), "MinEgySpec", "1e-320"));
  ASSERT_EQ(r.error, 0) << r.out;
  EXPECT_GT(rec->MinEgySpec, 0.0);
}

TEST(ParameterReader, RepeatedTagKeepsFirstValue)
{
  auto rec = std::make_unique<global_data_all_processes>();
  auto r   = read_text(*rec, example_text() + "DesNumNgb 32\n");
  EXPECT_NE(r.error, 0);
  EXPECT_EQ(rec->DesNumNgb, 64);
}

TEST(ParameterReader, MissingFileReportsEveryTag)
{
  auto rec = std::make_unique<global_data_all_processes>();
  rec->register_parameters();
  testing::internal::CaptureStdout();
  int err         = rec->read_parameter_file("/nonexistent/param.txt");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(err, 0);
  EXPECT_NE(out.find("Parameter file /nonexistent/param.txt not found."), std::string::npos);
  EXPECT_NE(out.find("I miss a value for tag 'MaxSfrTimescale'"), std::string::npos);
}

TEST(ParameterReader, OutputDirSubstitution)
{
  setenv("OUTPUT_DIR", "/scratch/run42", 1);
  auto rec = std::make_unique<global_data_all_processes>();
  auto r   = read_text(*rec, with_value(example_text(), "OutputDir", "OUTPUT_DIR"));
  ASSERT_EQ(r.error, 0) << r.out;
  EXPECT_STREQ(rec->OutputDir, "/scratch/run42");
  char expect[100];
  snprintf(expect, sizeof expect, "%-50s%s\n", "OutputDir", "/scratch/run42");
  EXPECT_NE(slurp(tmpdir() + "/param.txt-usedvalues").find(expect), std::string::npos);

  // A substitution that does not fit the field is refused, naming the tag.
  setenv("OUTPUT_DIR", std::string(600, 'd').c_str(), 1);
  auto rec2 = std::make_unique<global_data_all_processes>();
  auto r2   = read_text(*rec2, with_value(example_text(), "OutputDir", "OUTPUT_DIR"));
  EXPECT_NE(r2.error, 0);
  EXPECT_NE(r2.out.find("Tag 'OutputDir' has a value of 600 characters"), std::string::npos);
  unsetenv("OUTPUT_DIR");
}

TEST(ParameterReaderDeathTest, OutputDirWithoutEnvironmentIsFatal)
{
  unsetenv("OUTPUT_DIR");
  auto rec         = std::make_unique<global_data_all_processes>();
  std::string path = write_file("envless.txt", with_value(example_text(), "OutputDir", "OUTPUT_DIR"));
  rec->register_parameters();
  EXPECT_FATAL(rec->read_parameter_file(path.c_str()), "no environment variable OUTPUT_DIR found");
}

TEST(ParameterReaderDeathTest, RegistryLimits)
{
  auto rec = std::make_unique<global_data_all_processes>();
  int x;
  EXPECT_FATAL(rec->add_param(std::string(50, 't').c_str(), &x, PARAM_INT, 0), "too long");
  EXPECT_FATAL(
      for(int i = 0; i <= MAX_PARAMETERS; i++) rec->add_param("T", &x, PARAM_INT, 0), "exceeded MAX_PARAMETERS=300");
}

TEST(ParameterChecks, BadValuesNameTheParameter)
{
  const std::string ex = example_text();
  struct bad_case
  {
    const char *tag, *value, *message;
  } cases[] = {
      {"NumFilesPerSnapshot", "0", "NumFilesPerSnapshot=0"},
      {"MaxFilesWithConcurrentIO", "-1", "MaxFilesWithConcurrentIO=-1"},
      {"TimeMax", "0", "TimeMax=0 must be larger than TimeBegin=0"},
      {"MaxSizeTimestep", "0", "MaxSizeTimestep=0"},
      {"MinSizeTimestep", "-1", "MinSizeTimestep=-1"},
      {"MaxMemSize", "0", "MaxMemSize=0"},
      {"UnitLength_in_cm", "-1", "UnitLength_in_cm=-1"},
      {"UnitMass_in_g", "0", "UnitMass_in_g=0"},
      {"UnitVelocity_in_cm_per_s", "-5", "UnitVelocity_in_cm_per_s=-5"},
      {"ErrTolTheta", "0", "ErrTolTheta=0"},
      {"TypeOfOpeningCriterion", "2", "TypeOfOpeningCriterion=2"},
      {"ICFormat", "4", "ICFormat = 4"},
      {"DesNumNgb", "0", "DesNumNgb=0"},
      {"CourantFac", "0", "CourantFac=0"},
      {"ComovingIntegrationOn", "1", "TimeBegin=0 must be positive in a comoving run"},
      {"OutputListOn", "2", "OutputListOn=2 must be 0 or 1"},
      {"TimeLimitCPU", "-1", "TimeLimitCPU=-1"},
      {"CpuTimeBetRestartFile", "-5", "CpuTimeBetRestartFile=-5"},
  };
  for(const auto &c : cases)
    {
      auto rec = std::make_unique<global_data_all_processes>();
      auto r   = read_text(*rec, with_value(ex, c.tag, c.value));
      ASSERT_EQ(r.error, 0) << c.tag << r.out;
      testing::internal::CaptureStdout();
      int nbad        = rec->validate_values();
      std::string out = testing::internal::GetCapturedStdout();
      EXPECT_GT(nbad, 0) << c.tag;
      EXPECT_NE(out.find(c.message), std::string::npos) << c.tag << ": " << out;
    }

  auto good = std::make_unique<global_data_all_processes>();
  ASSERT_EQ(read_text(*good, ex).error, 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(good->validate_values(), 0);
  testing::internal::GetCapturedStdout();
}

TEST(ParameterChecks, OutputDirGetsOneTrailingSlashWithinItsArray)
{
  auto rec = std::make_unique<global_data_all_processes>();
  strcpy(rec->OutputDir, "out");
  EXPECT_TRUE(rec->terminate_outputdir());
  EXPECT_TRUE(rec->terminate_outputdir());
  EXPECT_STREQ(rec->OutputDir, "out/");

  memset(rec->OutputDir, 'x', sizeof(rec->OutputDir) - 1);
  rec->OutputDir[sizeof(rec->OutputDir) - 1] = 0;
  EXPECT_FALSE(rec->terminate_outputdir());
  EXPECT_EQ(strlen(rec->OutputDir), sizeof(rec->OutputDir) - 1);
}

TEST(ParameterChecks, CorrectionsAndFatalChecks)
{
  auto rec = std::make_unique<global_data_all_processes>();
  ASSERT_EQ(read_text(*rec, example_text()).error, 0);
  rec->NTask                    = 4;
  rec->MaxFilesWithConcurrentIO = 0;
  rec->NumFilesPerSnapshot      = 8;
  testing::internal::CaptureStdout();
  rec->some_parameter_checks();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(rec->MaxFilesWithConcurrentIO, 4);
  EXPECT_EQ(rec->NumFilesPerSnapshot, 4);
  EXPECT_EQ(out.find("has been reduced"), std::string::npos);
  EXPECT_NE(out.find("NOTICE: MaxFilesWithConcurrentIO has been set to be equal to the number of processors"), std::string::npos);
  EXPECT_NE(out.find("reducing this to NumFilesPerSnapshot=4"), std::string::npos);

  rec->SofteningClassOfPartType[3] = 2;
  EXPECT_FATAL(rec->some_parameter_checks(), "SofteningClassOfPartType3  invalid \\(NSOFTCLASSES=2\\)");
  rec->SofteningClassOfPartType[3] = 0;
  rec->SnapFormat                  = 0;
  EXPECT_FATAL(rec->some_parameter_checks(), "Unsupported File-Format: SnapFormat = 0");
}

TEST(OutputList, EntriesFlagsAndLimit)
{
  auto rec = std::make_unique<global_data_all_processes>();
  std::string path = write_file("outputs.txt", "0.5\n0.6 0\nword 3\n\n  0.7   1  \n");
  testing::internal::CaptureStdout();
  rec->read_outputlist(path.c_str());
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(rec->OutputListLength, 3);
  EXPECT_DOUBLE_EQ(rec->OutputListTimes[1], 0.6);
  EXPECT_EQ(rec->OutputListFlag[0], 1);
  EXPECT_EQ(rec->OutputListFlag[1], 0);
  EXPECT_EQ(rec->OutputListFlag[2], 1);
  EXPECT_NE(out.find("found 3 times in output-list."), std::string::npos);

  std::string full;
  for(int i = 0; i < MAXLEN_OUTPUTLIST; i++)
    full += std::to_string(0.001 * (i + 1)) + "\n";
  path = write_file("outputs_full.txt", full);
  testing::internal::CaptureStdout();
  rec->read_outputlist(path.c_str());
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(rec->OutputListLength, MAXLEN_OUTPUTLIST);

  path = write_file("outputs_over.txt", full + "2.0\n");
  EXPECT_FATAL(rec->read_outputlist(path.c_str()), "too many entries in output-list");
  EXPECT_FATAL(rec->read_outputlist("/nonexistent"), "can't read output list in file '/nonexistent'");
}

TEST(Units, DerivedConstantsAndHubbleCheck)
{
  auto rec                      = std::make_unique<global_data_all_processes>();
  rec->UnitLength_in_cm         = 3.085678e21;
  rec->UnitMass_in_g            = 1.989e43;
  rec->UnitVelocity_in_cm_per_s = 1e5;
  rec->GravityConstantInternal  = 0;
  rec->derive_units();
  EXPECT_NEAR(rec->G, 43018.7, 0.05);
  EXPECT_NEAR(rec->UnitTime_in_s, 3.085678e16, 1e9);
  EXPECT_NEAR(rec->UnitTime_in_Megayears, 977.79, 0.01);
  EXPECT_NEAR(rec->UnitDensity_in_cgs, 1.989e43 / pow(3.085678e21, 3), 1e-30);
  EXPECT_NEAR(rec->UnitEnergy_in_cgs / 1.989e53, 1.0, 1e-12);

  rec->GravityConstantInternal = 1.0;
  rec->derive_units();
  EXPECT_EQ(rec->G, 1.0);

  // Comoving: Hubble must match the unit of time (h units: 0.1 in these units).
  rec->ComovingIntegrationOn = 1;
  rec->HubbleParam           = 0.7;
  rec->Hubble                = 0.1;
  rec->derive_units();
  rec->Hubble = 0.12;
  EXPECT_FATAL(rec->derive_units(), "we would expect All.Hubble=0.1\\. We better stop");
  rec->HubbleParam = 1;
  rec->Hubble      = 0.07;
  rec->derive_units();
  rec->Hubble = 0.3;
  EXPECT_FATAL(rec->derive_units(), "somewhere in the ballpark of");
}

TEST(CosmoFactors, ComovingAndNewtonian)
{
  auto rec                   = std::make_unique<global_data_all_processes>();
  rec->Hubble                = 0.1;
  rec->Omega0                = 0.3;
  rec->OmegaLambda           = 0.7;
  rec->ComovingIntegrationOn = 0;
  for(double t : {0.0, 0.5, 7.0})
    {
      rec->Time = t;
      rec->set_cosmo_factors_for_current_time();
      for(double f : {rec->cf_atime, rec->cf_atime2, rec->cf_ainv, rec->cf_a2inv, rec->cf_a3inv, rec->cf_afac1, rec->cf_afac2, rec->cf_afac3,
                      rec->cf_hubble_a, rec->cf_atime_hubble_a, rec->cf_atime2_hubble_a})
        EXPECT_EQ(f, 1.0);
      EXPECT_EQ(rec->cf_H, 0.0);
      EXPECT_EQ(rec->cf_redshift, 0.0);
    }

  rec->ComovingIntegrationOn = 1;
  rec->Time                  = 0.5;
  rec->set_cosmo_factors_for_current_time();
  double H = 0.1 * sqrt(0.3 / 0.125 + 0.7);
  EXPECT_DOUBLE_EQ(rec->cf_H, H);
  EXPECT_DOUBLE_EQ(rec->cf_atime2_hubble_a, 0.25 * H);
  EXPECT_DOUBLE_EQ(rec->cf_redshift, 1.0);
  EXPECT_DOUBLE_EQ(rec->cf_afac1, 0.25);
  EXPECT_DOUBLE_EQ(rec->cf_afac2, 8.0);
  EXPECT_DOUBLE_EQ(rec->cf_afac3, 2.0);
  EXPECT_DOUBLE_EQ(rec->cf_a3inv, 8.0);
}
