/* Internal helpers shared by the allocators. */
#ifndef LATTORA_MEM_H
#define LATTORA_MEM_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "lattora.h"

/* n elements of elsize bytes through the current hook, zero-filled if asked.
 * Null on failure, with errno set (ENOMEM when the hook leaves it clear). */
void *lat_alloc(size_t n, size_t elsize, int zero);
/* Null-safe. */
void lat_release(void *block);

#define LAT_RELEASE(p) \
  do {                 \
    lat_release(p);    \
    (p) = NULL;        \
  } while (0)

/* Prints the failure line with the current errno on f, clears errno and
 * passes code through. */
int lat_failed(FILE *f, int code);

static inline void *lat_align_up(void *p)
{
  const uintptr_t a = LATTORA_ALIGN;
  return (void *)(((uintptr_t)p + a - 1) & ~(a - 1));
}

#endif
