/* C entry points of the Fendral stream table. Fortran calling convention:
 * every argument by address, integers 4-byte signed, ids 0-based slots.
 * Every failure prints to stderr and ends the process with status -1. */
#ifndef FENDRAL_XDR_STREAMS_H
#define FENDRAL_XDR_STREAMS_H

#ifdef __cplusplus
extern "C" {
#endif

#define XDR_MAX_FILES 10
#define XDR_MAX_PATH 256

int xdr_open_(const int *n, const char *path, const int *mode);
int xdr_getid(void);
void xdr_close_(const int *id);
void xdr_rewind_(const int *id);
void xdr_fint_(const int *id, int *value);
void xdr_fdouble_(const int *id, double *value);
void xdr_real64_(const int *id, double *value);
void xdr_imat_(const int *id, const int *n, int *array);
void xdr_dmat_(const int *id, const int *n, double *array);
void xdr_rmat64_(const int *id, const int *n, double *array);
void xdr_fstring_(const int *id, int *len, char *data);

#ifdef __cplusplus
}
#endif

#endif
