#define _POSIX_C_SOURCE 200112L
#include "lattora_mem.h"

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

static void *default_alloc(size_t bytes, void *ctx)
{
  (void)ctx;
  void *p = NULL;
  const int rc = posix_memalign(&p, LATTORA_ALIGN, bytes);
  if(rc != 0)
    {
      errno = rc; /* posix_memalign reports through its result only */
      return NULL;
    }
  return p;
}

static void default_release(void *block, void *ctx)
{
  (void)ctx;
  free(block);
}

static lattora_alloc_fn hook_alloc     = default_alloc;
static lattora_release_fn hook_release = default_release;
static void *hook_ctx                  = NULL;

void lattora_set_allocator(lattora_alloc_fn alloc, lattora_release_fn release, void *ctx)
{
  if(alloc && release)
    {
      hook_alloc   = alloc;
      hook_release = release;
      hook_ctx     = ctx;
    }
  else
    {
      hook_alloc   = default_alloc;
      hook_release = default_release;
      hook_ctx     = NULL;
    }
}

void *lat_alloc(size_t n, size_t elsize, int zero)
{
  /* Negative sizes converted by the callers land here as huge counts. */
  if(elsize != 0 && n > (size_t)PTRDIFF_MAX / elsize)
    {
      errno = ENOMEM;
      return NULL;
    }
  size_t bytes = n * elsize;
  if(bytes == 0)
    bytes = 1; /* a distinct non-null block even for empty arrays */

  /* errno only speaks for this request; the caller's value survives a success */
  const int caller_errno = errno;
  errno                  = 0;
  void *p                = hook_alloc(bytes, hook_ctx);
  if(!p)
    {
      if(errno == 0)
        errno = ENOMEM;
      return NULL;
    }
  errno = caller_errno;
  if(zero)
    memset(p, 0, bytes);
  return p;
}

void lat_release(void *block)
{
  if(block)
    hook_release(block, hook_ctx);
}

int lat_failed(FILE *f, int code)
{
  fprintf(f, "malloc errno : %d\n", errno);
  errno = 0;
  return code;
}
