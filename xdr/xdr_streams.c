/* Process-wide table of XDR streams over standard-I/O files, with one entry
 * point per operation for Fortran callers. There are no error returns: any
 * failure is reported on stderr and ends the process, so a caller can never
 * go on with a short or corrupt file. */
#include "xdr_streams.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <rpc/types.h>
#include <rpc/xdr.h>

typedef struct {
  char *name; /* NULL marks a free slot */
  XDR *stream;
} xdr_slot;

static xdr_slot xdrfile[XDR_MAX_FILES];

static void fail(void) __attribute__((noreturn));
static void fail(void) { exit(-1); }

/* The id comes straight from the caller; a stale or made-up one must not
 * reach a null stream pointer. */
static xdr_slot *open_slot(int id) {
  if (id < 0 || id >= XDR_MAX_FILES) {
    fprintf(stderr, "XDR error: stream id %d is outside 0 to %d\n", id, XDR_MAX_FILES - 1);
    fail();
  }
  if (!xdrfile[id].name) {
    fprintf(stderr, "XDR error: stream id %d is not open\n", id);
    fail();
  }
  return &xdrfile[id];
}

int xdr_getid(void) {
  for (int i = 0; i < XDR_MAX_FILES; i++)
    if (!xdrfile[i].name) return i;
  fprintf(stderr, "XDR error: too many files open");
  fprintf(stderr, "Max is %d\n", XDR_MAX_FILES);
  return -1;
}

int xdr_open_(const int *n, const char *path, const int *mode) {
  char buf[XDR_MAX_PATH];
  if (*n < 0 || *n >= XDR_MAX_PATH) {
    fprintf(stderr, "XDR error: file name length %d is not in 0 to %d\n", *n, XDR_MAX_PATH - 1);
    fail();
  }
  memcpy(buf, path, (size_t)*n);
  buf[*n] = '\0';

  if (*mode != 1 && *mode != 2) {
    fprintf(stderr, "error: cxdrinit called with mode=%1d\n", *mode);
    fail();
  }

  int id = xdr_getid();
  if (id < 0) {
    fprintf(stderr, "Error opening file %s\n", buf);
    fail();
  }

  char *name = malloc((size_t)*n + 1);
  XDR *stream = malloc(sizeof(XDR));
  if (!name || !stream) {
    fprintf(stderr, "Error on xdr stream create\n");
    fprintf(stderr, "filename=%s\n", buf);
    fail();
  }
  strcpy(name, buf);

  FILE *fp;
  if (*mode == 1) {
    fp = fopen(buf, "r");
    if (!fp) {
      fprintf(stderr, "Error opening XDR file %s for reading\n", buf);
      perror("Reason");
      fail();
    }
    xdrstdio_create(stream, fp, XDR_DECODE);
  } else {
    fp = fopen(buf, "w");
    if (!fp) {
      fprintf(stderr, "Error opening XDR file %s for writing\n", buf);
      perror("Reason");
      fail();
    }
    xdrstdio_create(stream, fp, XDR_ENCODE);
  }
  stream->x_public = (char *)fp;

  xdrfile[id].name = name;
  xdrfile[id].stream = stream;
  return id;
}

void xdr_close_(const int *id) {
  xdr_slot *s = open_slot(*id);
  FILE *fp = (FILE *)s->stream->x_public;

  /* The destroy operation flushes but cannot report; a full disk would go
   * unnoticed, so flush and close are checked here. */
  int flush_rc = fflush(fp);
  int flush_errno = errno;
  if (s->stream->x_ops && s->stream->x_ops->x_destroy) XDR_DESTROY(s->stream);
  int close_rc = fclose(fp);
  int close_errno = errno;

  char *name = s->name;
  free(s->stream);
  s->stream = NULL;
  s->name = NULL;

  if (flush_rc != 0 || close_rc != 0) {
    fprintf(stderr, "XDR error closing file %s\n", name);
    errno = flush_rc != 0 ? flush_errno : close_errno;
    perror("Reason");
    fail();
  }
  free(name);
}

void xdr_rewind_(const int *id) {
  xdr_slot *s = open_slot(*id);
  if (!XDR_SETPOS(s->stream, 0)) {
    fprintf(stderr, "XDR error rewinding file %s\n", s->name);
    fail();
  }
}

void xdr_fint_(const int *id, int *value) {
  xdr_slot *s = open_slot(*id);
  if (!xdr_int(s->stream, value)) {
    fprintf(stderr, "XDR int error, file %s\n", s->name);
    fail();
  }
}

void xdr_fdouble_(const int *id, double *value) {
  xdr_slot *s = open_slot(*id);
  if (!xdr_double(s->stream, value)) {
    fprintf(stderr, "XDR real io error, file %s\n", s->name);
    fail();
  }
}

void xdr_real64_(const int *id, double *value) {
  xdr_slot *s = open_slot(*id);
  if (!xdr_double(s->stream, value)) {
    fprintf(stderr, "XDR error 64-bit real read, file %s\n", s->name);
    fail();
  }
}

typedef struct {
  const char *write_error; /* takes the file name */
  const char *read_error;  /* takes the file name */
  const char *negative;
  const char *count;       /* takes n and the count found in the file */
} array_messages;

static void transfer_array(int id, int n, void *array, u_int elsize, xdrproc_t proc,
                           const array_messages *msg) {
  xdr_slot *s = open_slot(id);
  int decode = s->stream->x_op == XDR_DECODE;
  const char *error = decode ? msg->read_error : msg->write_error;

  /* A negative n would become a huge maximum and let a read run past the
   * caller's buffer; a byte count beyond INT_MAX cannot be a real array. */
  if (n < 0) {
    fprintf(stderr, error, s->name);
    fputs(msg->negative, stderr);
    fail();
  }
  if ((u_int)n > (u_int)INT_MAX / elsize) {
    fprintf(stderr, error, s->name);
    fprintf(stderr, "%d elements specified, more than the maximum %u\n", n, (u_int)INT_MAX / elsize);
    fail();
  }

  char *addr = array;
  u_int count = (u_int)n;
  bool_t ok = xdr_array(s->stream, &addr, &count, (u_int)n, elsize, proc);
  if (!ok || count != (u_int)n) {
    fprintf(stderr, error, s->name);
    if (count != (u_int)n) fprintf(stderr, msg->count, n, count);
    fail();
  }
}

void xdr_imat_(const int *id, const int *n, int *array) {
  static const array_messages msg = {
      "XDR int array write error, file %s\n", "XDR int array read error, file %s\n",
      "negative number elements specified\n", "%d integers specified, actually read %u\n"};
  transfer_array(*id, *n, array, sizeof(int), (xdrproc_t)xdr_int, &msg);
}

void xdr_dmat_(const int *id, const int *n, double *array) {
  static const array_messages msg = {
      "XDR real array write error, file %s\n", "XDR read array error, file %s\n",
      "negative number elements specified!\n", "%d real elements specified, actually read %u!\n"};
  transfer_array(*id, *n, array, sizeof(double), (xdrproc_t)xdr_double, &msg);
}

void xdr_rmat64_(const int *id, const int *n, double *array) {
  static const array_messages msg = {
      "XDR write real64 array error, file %s\n", "XDR error, file %s\n",
      "negative number elements specified!\n", "%d real64 specified, actually read %u!\n"};
  transfer_array(*id, *n, array, sizeof(double), (xdrproc_t)xdr_double, &msg);
}

void xdr_fstring_(const int *id, int *len, char *data) {
  xdr_slot *s = open_slot(*id);
  if (*len < 0) {
    fprintf(stderr, "XDR string io error, file %s\n", s->name);
    fprintf(stderr, "negative string length %d specified\n", *len);
    fail();
  }
  u_int size = (u_int)*len;
  if (!xdr_bytes(s->stream, &data, &size, (u_int)*len)) {
    fprintf(stderr, "XDR string io error, file %s\n", s->name);
    fail();
  }
  *len = (int)size;
}
