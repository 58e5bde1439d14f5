#include "io/parameters.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "data/macros.h"

void parameters::add_param(const char *name, void *buf, int type, int flag, size_t size)
{
  if(NParameters >= MAX_PARAMETERS)
    FATAL_ERROR("exceeded MAX_PARAMETERS=%d", MAX_PARAMETERS);
  if(strlen(name) > MAXLEN_PARAM_TAG - 1)
    FATAL_ERROR("parameter '%s' too long", name);
  if(type == PARAM_STRING && size == 0)
    FATAL_ERROR("string parameter '%s' registered without the size of its buffer", name);

  strcpy(ParametersTag[NParameters], name);
  ParametersValue[NParameters]      = buf;
  ParametersSize[NParameters]       = size;
  ParametersType[NParameters]       = type;
  ParametersChangeable[NParameters] = flag;
  NParameters++;
}

void parameters::format_line(char *out, size_t outlen, int i) const
{
  char fmt[32];
  switch(ParametersType[i])
    {
      case PARAM_DOUBLE:
        snprintf(fmt, sizeof(fmt), "%%-%ds%%g\n", MAXLEN_PARAM_TAG);
        snprintf(out, outlen, fmt, ParametersTag[i], *static_cast<double *>(ParametersValue[i]));
        break;
      case PARAM_STRING:
        snprintf(fmt, sizeof(fmt), "%%-%ds%%s\n", MAXLEN_PARAM_TAG);
        snprintf(out, outlen, fmt, ParametersTag[i], static_cast<char *>(ParametersValue[i]));
        break;
      default:
        snprintf(fmt, sizeof(fmt), "%%-%ds%%d\n", MAXLEN_PARAM_TAG);
        snprintf(out, outlen, fmt, ParametersTag[i], *static_cast<int *>(ParametersValue[i]));
        break;
    }
}

// Converts and stores one value; returns non-zero (after printing why) when the
// value cannot be taken as it stands, instead of silently storing 0 or a prefix.
int parameters::store_value(const char *fname, int lineno, int i, const char *value)
{
  const char *tag = ParametersTag[i];
  switch(ParametersType[i])
    {
      case PARAM_DOUBLE:
        {
          char *end;
          errno    = 0;
          double v = strtod(value, &end);
          // Underflow to a tiny or subnormal value is fine; overflow is not.
          if(end == value || *end != 0 || (errno == ERANGE && std::fabs(v) == HUGE_VAL) || !std::isfinite(v))
            {
              printf("Error in file %s, line %d:   Tag '%s' has value '%s', which is not a valid number.\n", fname, lineno, tag, value);
              return 1;
            }
          *static_cast<double *>(ParametersValue[i]) = v;
          return 0;
        }
      case PARAM_INT:
        {
          char *end;
          errno  = 0;
          long v = strtol(value, &end, 10);
          if(end == value || *end != 0 || errno == ERANGE || v < INT_MIN || v > INT_MAX)
            {
              printf("Error in file %s, line %d:   Tag '%s' has value '%s', which is not a valid integer.\n", fname, lineno, tag, value);
              return 1;
            }
          *static_cast<int *>(ParametersValue[i]) = static_cast<int>(v);
          return 0;
        }
      default:
        {
          const char *v = value;
          if(strcmp(value, "OUTPUT_DIR") == 0)
            {
              v = getenv("OUTPUT_DIR");
              if(!v)
                FATAL_ERROR("no environment variable OUTPUT_DIR found");
            }
          if(strlen(v) >= ParametersSize[i])
            {
              printf("Error in file %s, line %d:   Tag '%s' has a value of %zu characters; at most %zu fit.\n", fname, lineno, tag,
                     strlen(v), ParametersSize[i] - 1);
              return 1;
            }
          strcpy(static_cast<char *>(ParametersValue[i]), v);
          return 0;
        }
    }
}

int parameters::read_parameter_file(const char *fname)
{
  for(int i = 0; i < MAX_PARAMETERS; i++)
    {
      Seen[i]              = false;
      ParameterSequence[i] = -1;
    }
  if(ThisTask != 0)
    return 0;

  int errorFlag = 0, nseq = 0;
  FILE *fd = fopen(fname, "r");
  if(!fd)
    {
      printf("Parameter file %s not found.\n", fname);
      errorFlag = 1;
    }
  else
    {
      char usedname[MAXLEN_PATH_EXTRA];
      snprintf(usedname, sizeof(usedname), "%s-usedvalues", fname);
      FILE *fdout = fopen(usedname, "w");
      if(!fdout)
        {
          printf("error opening file '%s' \n", usedname);
          errorFlag = 1;
        }
      else
        {
          printf("Obtaining parameters from file '%s':\n\n", fname);
          char buf[MAXLEN_PARAMFILE_LINE + 2];
          int lineno = 0;
          while(fgets(buf, sizeof(buf), fd))
            {
              lineno++;
              size_t len = strlen(buf);
              if(len > 0 && buf[len - 1] != '\n' && !feof(fd))
                {
                  printf("Error in file %s:   line %d is longer than %d characters.\n", fname, lineno, MAXLEN_PARAMFILE_LINE);
                  errorFlag = 1;
                  int c; // skip the rest of the overlong line
                  while((c = fgetc(fd)) != EOF && c != '\n')
                    ;
                  continue;
                }

              char tag[MAXLEN_PARAMFILE_LINE + 2], value[MAXLEN_PARAMFILE_LINE + 2];
              if(sscanf(buf, "%s%s", tag, value) < 2)
                continue;
              if(tag[0] == '%' || tag[0] == '#')
                continue;

              int j = -1;
              for(int i = 0; i < NParameters; i++)
                if(strcmp(tag, ParametersTag[i]) == 0)
                  {
                    j = i;
                    break;
                  }
              if(j < 0)
                {
                  printf("Error in file %s:   Tag '%s' not allowed\n", fname, tag);
                  errorFlag = 1;
                  continue;
                }
              if(Seen[j])
                {
                  printf("Error in file %s:   Tag '%s' multiply defined.\n", fname, tag);
                  errorFlag = 1;
                  continue;
                }
              ParameterSequence[nseq++] = j;
              Seen[j]                   = true;
              if(store_value(fname, lineno, j, value))
                {
                  errorFlag = 1;
                  continue;
                }
              char line[MAXLEN_PATH_EXTRA];
              format_line(line, sizeof(line), j);
              fputs(line, fdout);
              printf("        %s", line);
            }
          if(ferror(fd))
            {
              printf("Error reading parameter file %s: %s\n", fname, strerror(errno));
              errorFlag = 1;
            }
          if(fclose(fdout) != 0)
            {
              printf("error writing file '%s' \n", usedname);
              errorFlag = 1;
            }
          printf("\n");
        }
      fclose(fd);
    }

  for(int i = 0; i < NParameters; i++)
    if(!Seen[i])
      {
        printf("Error. I miss a value for tag '%s' in parameter file '%s'.\n", ParametersTag[i], fname);
        errorFlag = 1;
      }
  return errorFlag;
}

void parameters::write_used_parameters(const char *dirname, const char *fname)
{
  if(ThisTask != 0)
    return;
  mkdir(dirname, 02755);
  char path[MAXLEN_PATH_EXTRA];
  snprintf(path, sizeof(path), "%s%s", dirname, fname);
  FILE *fd = fopen(path, "w");
  if(!fd)
    FATAL_ERROR("Can't open file '%s'", path);
  for(int k = 0; k < NParameters; k++)
    {
      int i = ParameterSequence[k];
      if(i < 0)
        continue;
      char line[MAXLEN_PATH_EXTRA];
      format_line(line, sizeof(line), i);
      fputs(line, fd);
    }
  if(fclose(fd) != 0)
    FATAL_ERROR("Error writing file '%s': %s", path, strerror(errno));
}
