#include "io/io_streamcount.h"

#include <cerrno>
#include <cstring>

#include "data/macros.h"

size_t io_streamcount::my_fwrite(const void *ptr, size_t size, size_t nmemb, FILE *stream)
{
  if(!stream)
    return 0;
  if(size == 0 || nmemb == 0)
    return 0;

  size_t nwritten = fwrite(ptr, size, nmemb, stream);
  if(nwritten != nmemb)
    FATAL_ERROR("I/O error (fwrite) has occured: %s\nfile: '%s'\n", strerror(errno), stream_name ? stream_name : "?");

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
  if(flush_failed)
    FATAL_ERROR("I/O error (fflush) has occured: %s\nfile: '%s'\n", strerror(flush_errno), stream_name ? stream_name : "?");
  if(close_failed)
    FATAL_ERROR("I/O error (fclose) has occured: %s\nfile: '%s'\n", strerror(errno), stream_name ? stream_name : "?");
}
