#include "io/io_streamcount.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "data/macros.h"

size_t io_streamcount::my_fwrite(const void *ptr, size_t size, size_t nmemb, FILE *stream)
{
  if(!stream)
    return 0;
  if(size == 0 || nmemb == 0)
    return 0;

  size_t nwritten = fwrite(ptr, size, nmemb, stream);
  if(nwritten != nmemb)
    {
      int err = errno;
      FATAL_ERROR("I/O error (fwrite) has occured: %s\nfile: '%s'\n%s", strerror(err), stream_name ? stream_name : "?",
                  discard_incomplete_file());
    }

  byte_count += (long long)(size * nmemb);
  return nwritten;
}

size_t io_streamcount::my_fread(void *ptr, size_t size, size_t nmemb, FILE *stream)
{
  if(!stream)
    return 0;
  if(size == 0 || nmemb == 0)
    return 0;

  size_t nread = fread(ptr, size, nmemb, stream);
  if(nread != nmemb)
    {
      if(feof(stream))
        FATAL_ERROR("I/O error (fread) has occured: end of file\nfile: '%s', expected %zu more bytes\n",
                    stream_name ? stream_name : "?", size * nmemb);
      else
        FATAL_ERROR("I/O error (fread) has occured: %s\nfile: '%s'\n", strerror(errno), stream_name ? stream_name : "?");
    }

  byte_count += (long long)(size * nmemb);
  return nread;
}

void io_streamcount::my_fclose(FILE *stream)
{
  if(!stream)
    return;
  int flush_failed = fflush(stream);
  int flush_errno = errno;
  int close_failed = fclose(stream);
  int close_errno = errno;
  if(flush_failed)
    FATAL_ERROR("I/O error (fflush) has occured: %s\nfile: '%s'\n%s", strerror(flush_errno), stream_name ? stream_name : "?",
                discard_incomplete_file());
  if(close_failed)
    FATAL_ERROR("I/O error (fclose) has occured: %s\nfile: '%s'\n%s", strerror(close_errno), stream_name ? stream_name : "?",
                discard_incomplete_file());
}

void io_streamcount::my_fsync_file(const char *name)
{
  int fd = open(name, O_RDONLY);
  if(fd < 0)
    FATAL_ERROR("I/O error (open for fsync) has occured: %s\nfile: '%s'\n%s", strerror(errno), name, discard_incomplete_file());
  int failed = fsync(fd), err = errno;
  close(fd);
  if(failed && err != EINVAL && err != EROFS)
    FATAL_ERROR("I/O error (fsync) has occured: %s\nfile: '%s'\n%s", strerror(err), name, discard_incomplete_file());
}

const char *io_streamcount::discard_incomplete_file()
{
  static char note[4200];
  if(!discard_on_error)
    return "";
  note[0] = 0;
  if(unlink(discard_on_error) == 0)
    snprintf(note, sizeof(note), "the incomplete file '%s' was removed\n", discard_on_error);
  else if(errno != ENOENT)
    snprintf(note, sizeof(note), "the incomplete file '%s' could not be removed: %s\n", discard_on_error, strerror(errno));
  discard_on_error = nullptr;
  return note;
}
