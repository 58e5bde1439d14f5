#ifndef VORTAN_DATA_MACROS_H
#define VORTAN_DATA_MACROS_H

// Fatal errors end the whole job from the rank that detects them; warnings
// print, leave an empty "WARNINGS" file and let the run go on.
#define FATAL_ERROR(...) vortan_fatal_error(__func__, __FILE__, __LINE__, __VA_ARGS__)
#define RUN_WARNING(...) vortan_run_warning(__func__, __FILE__, __LINE__, __VA_ARGS__)

[[noreturn]] void vortan_fatal_error(const char *func, const char *file, int line, const char *fmt, ...)
    __attribute__((format(printf, 4, 5)));
void vortan_run_warning(const char *func, const char *file, int line, const char *fmt, ...) __attribute__((format(printf, 4, 5)));

#define myflush(x) fflush(x)

#endif
