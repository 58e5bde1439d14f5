#ifndef VORTAN_IO_PARAMETERS_H
#define VORTAN_IO_PARAMETERS_H

#include <cstddef>

#include "data/constants.h"
#include "mpi_utils/setcomm.h"

#define PARAM_DOUBLE 1
#define PARAM_STRING 2
#define PARAM_INT 3

#define PARAM_FIXED 0      // a resumed run keeps the stored value
#define PARAM_CHANGEABLE 1 // a resumed run takes the value from the file

// Longest line the reader accepts; a longer one is an error.
#define MAXLEN_PARAMFILE_LINE 449

// Registry of parameter tags and the reader of the parameter file.
class parameters : public setcomm
{
 public:
  parameters() : setcomm("delay init") {}

  int NParameters = 0;
  char ParametersTag[MAX_PARAMETERS][MAXLEN_PARAM_TAG];
  void *ParametersValue[MAX_PARAMETERS];
  size_t ParametersSize[MAX_PARAMETERS]; // capacity of a string target
  char ParametersType[MAX_PARAMETERS];
  char ParametersChangeable[MAX_PARAMETERS];
  int ParameterSequence[MAX_PARAMETERS];

  // Numeric parameters; size is ignored for them.
  void add_param(const char *name, void *buf, int type, int flag, size_t size = 0);
  template <size_t N>
  void add_param(const char *name, char (&buf)[N], int type, int flag)
  {
    add_param(name, static_cast<void *>(buf), type, flag, N);
  }

  // Returns 0 on success; every problem is printed before returning.
  int read_parameter_file(const char *fname);
  void write_used_parameters(const char *dirname, const char *fname);

 private:
  bool Seen[MAX_PARAMETERS];
  void format_line(char *out, size_t outlen, int i) const;
  int store_value(const char *fname, int lineno, int i, const char *value);
};

#endif
