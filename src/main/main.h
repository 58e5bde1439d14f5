#ifndef VORTAN_MAIN_MAIN_H
#define VORTAN_MAIN_MAIN_H

// Build identification, filled in by CMake.
extern const char *GIT_COMMIT;
extern const char *GIT_DATE;
extern const char *compiler_flags;

struct compile_time_option
{
  const char *name;
  const char *value; // nullptr for a flag option
};
extern const compile_time_option CompileTimeOptions[];
extern const int NumCompileTimeOptions;

void output_compile_time_options();

// Usage text of the command line, printed by the caller on task 0 only.
void print_usage();

#endif
