/* Lattora: allocators for the fields of a four-dimensional lattice program.
 *
 * The lattice program defines the sizes, the field pointers it reads through
 * and the monomial table (the "provided by the program" section below); the
 * allocators fill them. Every init routine returns 0 on success or a small
 * code naming the allocation that failed; every free routine may be called
 * any number of times and leaves the pointers it owns null. */
#ifndef LATTORA_H
#define LATTORA_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Alignment of every block from the default allocator and of the working
 * bases of the half-spinor operator: one cache line, wide enough for any
 * vector load the kernels use. */
#define LATTORA_ALIGN 64

typedef struct { double re, im; } lat_complex;
typedef struct { float re, im; } lat_complex32;

typedef struct { lat_complex c[3][3]; } lat_link;        /* 144 bytes */
typedef struct { lat_complex32 c[3][3]; } lat_link32;    /*  72 bytes */
typedef struct { lat_complex s[4][3]; } lat_spinor;      /* 192 bytes */
typedef struct { lat_complex32 s[4][3]; } lat_spinor32;  /*  96 bytes */
typedef struct { lat_complex s[2][3]; } lat_halfspinor;  /*  96 bytes */
typedef struct { lat_complex32 s[2][3]; } lat_halfspinor32; /* 48 bytes */
typedef struct { lat_spinor sp[2]; } lat_bispinor;       /* 384 bytes */
typedef struct { double d[8]; } lat_moment;              /*  64 bytes */

/* History fields of one monomial of the program's action. */
typedef struct {
  int csg_n, csg_n2;                    /* history lengths */
  lat_spinor **csg_field, **csg_field2; /* csg_n + 1 and csg_n2 entries */
  int *csg_index, *csg_index2;          /* csg_n and csg_n2 entries */
} lat_monomial;

/* ---- provided by the lattice program ---- */
extern int VOLUME, RAND, T, LX, LY, LZ;

extern lat_link **g_gauge_field;
extern lat_link32 **g_gauge_field_32;
/* even half, odd half of one array of VOLUME pointers */
extern lat_link **g_gauge_field_copy[2];
extern lat_link32 **g_gauge_field_copy_32[2];
extern int g_update_gauge_copy, g_update_gauge_copy_32;

extern int **g_idn, **g_iup, ****g_ipt;
extern int *g_lexic2eo, *g_lexic2eosub, *g_eo2lexic;
extern int *g_field_z_ipt_even, *g_field_z_ipt_odd;
extern int *g_field_z_disp_even_dn, *g_field_z_disp_even_up;
extern int *g_field_z_disp_odd_dn, *g_field_z_disp_odd_up;
extern int **g_coord, **g_iup_eo, **g_idn_eo;
extern int *g_hi;

extern lat_spinor **g_spinor_field;
extern lat_spinor32 **g_spinor_field32;
extern lat_spinor *g_tbuff;
extern lat_bispinor **g_bispinor_field;
extern lat_spinor **g_chi_up_spinor_field, **g_chi_dn_spinor_field;
extern lat_moment **moment, **df0, **ddummy;
extern lat_complex *g_omp_acc_cp;
extern double *g_omp_acc_re;

extern lat_monomial monomial_list[];
extern int no_monomials;
extern int omp_num_threads, g_proc_id, g_debug_level;

/* ---- blocks owned by the library ---- */
extern lat_link *gauge_field, *gauge_field_copy;
extern lat_link32 *gauge_field_32, *gauge_field_copy_32;
extern int *idn, *iup, *ipt, **ipt_, ***ipt__;
extern lat_spinor *sp, *sp_csg, *sp_tbuff;
extern lat_spinor32 *sp32;
extern lat_moment *mo, *df, *du;
extern lat_spinor *sp_up;
extern lat_link **gauge_tmp, *gauge_tmp_;
extern lat_bispinor *bisp;

/* Half-spinor operator: four tables of 8 neighbour slots per half-lattice
 * site (tables 0, 1 scatter from odd, even sites; 2, 3 gather at even, odd
 * sites). HalfSpinor, sendBuffer and recvBuffer are the aligned working bases
 * inside the blocks with the trailing underscore. */
extern lat_halfspinor *HalfSpinor_, *HalfSpinor;
extern lat_halfspinor *sendBuffer_, *sendBuffer, *recvBuffer_, *recvBuffer;
extern lat_halfspinor **NBPointer_, ***NBPointer;
extern lat_halfspinor32 *HalfSpinor32_, *HalfSpinor32;
extern lat_halfspinor32 *sendBuffer32, *recvBuffer32; /* alias the double buffers */
extern lat_halfspinor32 **NBPointer32_, ***NBPointer32;

/* ---- allocation hook ----
 * Every block is taken through alloc and returned through release; passing
 * null restores the default (LATTORA_ALIGN-aligned system memory). Change it
 * only while the library holds no blocks. */
typedef void *(*lattora_alloc_fn)(size_t bytes, void *ctx);
typedef void (*lattora_release_fn)(void *block, void *ctx);
void lattora_set_allocator(lattora_alloc_fn alloc, lattora_release_fn release, void *ctx);

/* ---- routines ---- */
int init_gauge_field(const int V, const int back);
int init_gauge_field_32(const int V, const int back);
void free_gauge_field(void);
void free_gauge_field_32(void);
void convert_32_gauge_field(lat_link32 **dst, lat_link **src, const int n);

int init_geometry_indices(const int V);
void free_geometry_indices(void);

int init_spinor_field(const int V, const int count);
int init_spinor_field_32(const int V, const int count);
int allocate_spinor_field_array(lat_spinor ***fields, lat_spinor **block, const int V, const int count);
void free_spinor_field(void);    /* also the history fields of init_csg_field */
void free_spinor_field_32(void);
void free_spinor_field_array(lat_spinor ***fields, lat_spinor **block);
/* Failure codes: 1 history block, 2 pointer arrays, 3 index arrays. */
int init_csg_field(const int V);
void free_csg_field(void);
int init_timslice_buffer_field(const int n);
void free_timslice_buffer_field(void);

int init_moment_field(const int V, const int n);
void free_moment_field(void);

int init_chi_spinor_field(const int V, const int nr);
void free_chi_spinor_field(void);

int init_gauge_tmp(const int V);
void free_gauge_tmp(void);

int init_bispinor_field(const int V, const int count);
void free_bispinor_field(void);

int init_omp_accumulators(const int n);
void free_omp_accumulators(void);
int init_openmp(void);

int init_dirac_halfspinor(void);
int init_dirac_halfspinor32(void); /* needs init_dirac_halfspinor first */
void free_dirac_halfspinor(void); /* also the single-precision tables */
void free_dirac_halfspinor32(void);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#define LATTORA_STATIC_ASSERT static_assert
#else
#define LATTORA_STATIC_ASSERT _Static_assert
#endif
LATTORA_STATIC_ASSERT(sizeof(lat_link) == 144 && sizeof(lat_link32) == 72, "link size");
LATTORA_STATIC_ASSERT(sizeof(lat_spinor) == 192 && sizeof(lat_spinor32) == 96, "spinor size");
LATTORA_STATIC_ASSERT(sizeof(lat_halfspinor) == 96 && sizeof(lat_halfspinor32) == 48, "half spinor size");
LATTORA_STATIC_ASSERT(sizeof(lat_bispinor) == 384 && sizeof(lat_moment) == 64, "bispinor, moment size");
#undef LATTORA_STATIC_ASSERT

#endif
