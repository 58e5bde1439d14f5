#ifndef VORTAN_IO_STREAMCOUNT_H
#define VORTAN_IO_STREAMCOUNT_H

#include <cstdio>

// Counted, checked stream transfers. A short transfer ends the run, so a file
// is never reported as written (or read) when it was not. The optional file
// name lets the messages say which file went wrong.
class io_streamcount
{
 public:
  long long byte_count = 0;
  const char *stream_name = nullptr;
  // A file written under a temporary name: a failed transfer makes it
  // worthless, so it is removed before the run ends rather than left behind.
  const char *discard_on_error = nullptr;

  size_t my_fwrite(const void *ptr, size_t size, size_t nmemb, FILE *stream);
  size_t my_fread(void *ptr, size_t size, size_t nmemb, FILE *stream);
  // Flush and close, both checked: buffered data that cannot reach the disk
  // (disk full, quota) only shows up here.
  void my_fclose(FILE *stream);
  // Waits until the closed file's data is on the disk; write-back errors that
  // no earlier call reported show up here. Files that cannot be synced (pipes,
  // devices) are left as they are.
  void my_fsync_file(const char *name);

  // Removes discard_on_error, if set; returns the note for the message.
  const char *discard_incomplete_file();

  long long get_io_byte_count() const { return byte_count; }
  void reset_io_byte_count() { byte_count = 0; }
};

#endif
