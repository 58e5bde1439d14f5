#include "io/hdf5_util.h"

#include <cstring>

#include "data/macros.h"
#include "io/half.h"

hid_t Halfprec_memtype = -1;
hid_t Int48_memtype = -1;
hid_t Int128_memtype = -1;

// HDF5's own error printing is switched off before the run goes down, so the
// log ends with our message rather than a stack dump from every task.
#define HDF5_FATAL(...)                          \
  do                                             \
    {                                            \
      H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr); \
      FATAL_ERROR(__VA_ARGS__);                  \
    }                                            \
  while(0)

void my_create_HDF5_halfprec_handler(void)
{
  H5open();

  Halfprec_memtype = H5Tcopy(H5T_NATIVE_FLOAT);
  if(Halfprec_memtype < 0 || H5Tset_fields(Halfprec_memtype, 15, 10, 5, 0, 10) < 0 ||
     H5Tset_size(Halfprec_memtype, 2) < 0 || H5Tset_ebias(Halfprec_memtype, 15) < 0 ||
     H5Tset_precision(Halfprec_memtype, 16) < 0)
    HDF5_FATAL("Error detected in HDF5: unable to set up the half-precision datatype\n");

  if(H5Tregister(H5T_PERS_SOFT, "half-converter", Halfprec_memtype, Halfprec_memtype, hdf5_conv_half) < 0)
    HDF5_FATAL("Error detected in HDF5: unable to register the half-precision conversion\n");
}

void my_create_HDF5_special_integer_types(void)
{
  H5open();

  Int48_memtype = H5Tcopy(H5T_NATIVE_UINT32);
  if(Int48_memtype < 0 || H5Tset_precision(Int48_memtype, 48) < 0)
    HDF5_FATAL("Error detected in HDF5: unable to set up the 48-bit integer datatype\n");

  Int128_memtype = H5Tcopy(H5T_NATIVE_UINT64);
  if(Int128_memtype < 0 || H5Tset_precision(Int128_memtype, 128) < 0)
    HDF5_FATAL("Error detected in HDF5: unable to set up the 128-bit integer datatype\n");
}

namespace
{
// The other side of a half conversion must be a native float or double; HDF5
// offers every floating-point pair to a soft path, and anything we cannot
// convert (long double, half to half of another layout) is declined here.
bool half_pair_supported(hid_t src, hid_t dst)
{
  bool src_half = H5Tequal(src, Halfprec_memtype) > 0;
  bool dst_half = H5Tequal(dst, Halfprec_memtype) > 0;
  if(src_half == dst_half)
    return false;
  size_t other = src_half ? H5Tget_size(dst) : H5Tget_size(src);
  return other == 4 || other == 8;
}
}  // namespace

herr_t hdf5_conv_half(hid_t src, hid_t dst, H5T_cdata_t *cdata, size_t nelmts, size_t buf_str, size_t bkg_str, void *buf,
                      void *background, hid_t plist)
{
  switch(cdata->command)
    {
      case H5T_CONV_INIT:
        if(!half_pair_supported(src, dst))
          return -1;
        cdata->need_bkg = H5T_BKG_NO;
        return 0;

      case H5T_CONV_FREE:
        return 0;

      case H5T_CONV_CONV:
        {
          size_t ssize = H5Tget_size(src);
          size_t dsize = H5Tget_size(dst);
          // A non-zero stride is the distance between elements for both sides.
          size_t sstep = buf_str ? buf_str : ssize;
          size_t dstep = buf_str ? buf_str : dsize;
          char *p = static_cast<char *>(buf);

          using half_float::half;
          if(ssize == 2 && (dsize == 4 || dsize == 8))
            {
              // widening in place: walk backwards so no source is overwritten unread
              for(size_t i = nelmts; i-- > 0;)
                {
                  half h;
                  memcpy(&h, p + i * sstep, 2);
                  float f = h;
                  if(dsize == 4)
                    memcpy(p + i * dstep, &f, 4);
                  else
                    {
                      double d = f;
                      memcpy(p + i * dstep, &d, 8);
                    }
                }
            }
          else if(dsize == 2 && (ssize == 4 || ssize == 8))
            {
              for(size_t i = 0; i < nelmts; i++)
                {
                  half h;
                  if(ssize == 4)
                    {
                      float f;
                      memcpy(&f, p + i * sstep, 4);
                      h = half(f);
                    }
                  else
                    {
                      double d;
                      memcpy(&d, p + i * sstep, 8);
                      h = half(d);
                    }
                  memcpy(p + i * dstep, &h, 2);
                }
            }
          else
            return -1;
          return 0;
        }

      default:
        return -1;
    }
}

hid_t my_H5Fcreate(const char *fname, unsigned int flags, hid_t fcpl_id, hid_t fapl_id)
{
  hid_t file_id = H5Fcreate(fname, flags, fcpl_id, fapl_id);
  if(file_id < 0)
    HDF5_FATAL("Error detected in HDF5: unable to create file %s\n", fname);
  return file_id;
}

hid_t my_H5Gcreate(hid_t loc_id, const char *groupname, size_t size_hint)
{
  hid_t group_id = H5Gcreate2(loc_id, groupname, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
  if(group_id < 0)
    HDF5_FATAL("Error detected in HDF5: unable to create group %s\n", groupname);
  return group_id;
}

hid_t my_H5Dcreate(hid_t loc_id, const char *datasetname, hid_t type_id, hid_t space_id, hid_t dcpl_id)
{
  hid_t dataset_id = H5Dcreate2(loc_id, datasetname, type_id, space_id, H5P_DEFAULT, dcpl_id, H5P_DEFAULT);
  if(dataset_id < 0)
    HDF5_FATAL("Error detected in HDF5: unable to create dataset %s\n", datasetname);
  return dataset_id;
}

herr_t my_H5Dwrite(hid_t dataset_id, hid_t mem_type_id, hid_t mem_space_id, hid_t file_space_id, hid_t xfer_plist_id,
                   const void *buf, const char *datasetname)
{
  herr_t status = H5Dwrite(dataset_id, mem_type_id, mem_space_id, file_space_id, xfer_plist_id, buf);
  if(status < 0)
    HDF5_FATAL("Error detected in HDF5: unable to write dataset %s\n", datasetname);
  return status;
}

hid_t my_H5Acreate(hid_t loc_id, const char *attr_name, hid_t type_id, hid_t space_id, hid_t acpl_id)
{
  if(H5Aexists(loc_id, attr_name) > 0)
    H5Adelete(loc_id, attr_name);

  hid_t attr_id = H5Acreate2(loc_id, attr_name, type_id, space_id, acpl_id, H5P_DEFAULT);
  if(attr_id < 0)
    HDF5_FATAL("Error detected in HDF5: unable to create attribute %s\n", attr_name);
  return attr_id;
}

herr_t my_H5Awrite(hid_t attr_id, hid_t mem_type_id, const void *buf, const char *attr_name)
{
  herr_t status = H5Awrite(attr_id, mem_type_id, buf);
  if(status < 0)
    HDF5_FATAL("Error detected in HDF5: unable to write attribute %s\n", attr_name);
  return status;
}

hid_t my_H5Screate(H5S_class_t type)
{
  hid_t dataspace_id = H5Screate(type);
  if(dataspace_id < 0)
    {
      switch(type)
        {
          case H5S_SCALAR:
            HDF5_FATAL("Error detected in HDF5: unable to create a scalar dataspace\n");
          case H5S_SIMPLE:
            HDF5_FATAL("Error detected in HDF5: unable to create a simple dataspace\n");
          default:
            HDF5_FATAL("Error detected in HDF5: unknown dataspace type\n");
        }
    }
  return dataspace_id;
}

hid_t my_H5Screate_simple(int rank, const hsize_t *current_dims, const hsize_t *maximum_dims)
{
  hid_t dataspace_id = H5Screate_simple(rank, current_dims, maximum_dims);
  if(dataspace_id < 0)
    HDF5_FATAL("Error detected in HDF5: unable to create a simple dataspace\n");
  return dataspace_id;
}

hid_t my_H5Fopen(const char *fname, unsigned int flags, hid_t fapl_id)
{
  hid_t file_id = H5Fopen(fname, flags, fapl_id);
  if(file_id < 0)
    HDF5_FATAL("Error detected in HDF5: unable to open file %s\n", fname);
  return file_id;
}

hid_t my_H5Gopen(hid_t loc_id, const char *groupname)
{
  hid_t group = H5Gopen2(loc_id, groupname, H5P_DEFAULT);
  if(group < 0)
    HDF5_FATAL("Error detected in HDF5: unable to open group %s\n", groupname);
  return group;
}

hid_t my_H5Dopen(hid_t file_id, const char *datasetname)
{
  hid_t dataset = H5Dopen2(file_id, datasetname, H5P_DEFAULT);
  if(dataset < 0)
    HDF5_FATAL("Error detected in HDF5: unable to open dataset %s\n", datasetname);
  return dataset;
}

hid_t my_H5Dopen_if_existing(hid_t file_id, const char *datasetname)
{
  H5E_auto2_t old_func;
  void *old_client_data;
  H5Eget_auto2(H5E_DEFAULT, &old_func, &old_client_data);
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);

  hid_t dataset = H5Dopen2(file_id, datasetname, H5P_DEFAULT);

  H5Eset_auto2(H5E_DEFAULT, old_func, old_client_data);
  return dataset;
}

herr_t my_H5Dset_extent(hid_t dset_id, const hsize_t size[])
{
  herr_t status = H5Dset_extent(dset_id, size);
  if(status < 0)
    HDF5_FATAL("Error detected in HDF5: unable to set extent of dataset\n");
  return status;
}

hid_t my_H5Aopen_name(hid_t loc_id, const char *attr_name)
{
  hid_t attr_id = H5Aopen_name(loc_id, attr_name);
  if(attr_id < 0)
    HDF5_FATAL("Error detected in HDF5: unable to open attribute %s\n", attr_name);
  return attr_id;
}

herr_t my_H5Dread(hid_t dataset_id, hid_t mem_type_id, hid_t mem_space_id, hid_t file_space_id, hid_t xfer_plist_id, void *buf,
                  const char *datasetname)
{
  herr_t status = H5Dread(dataset_id, mem_type_id, mem_space_id, file_space_id, xfer_plist_id, buf);
  if(status < 0)
    HDF5_FATAL("Error detected in HDF5: unable to read dataset %s\n", datasetname);
  return status;
}

herr_t my_H5Aread(hid_t attr_id, hid_t mem_type_id, void *buf, const char *attr_name, hssize_t size)
{
  hid_t hdf5_space = H5Aget_space(attr_id);
  hssize_t attr_size = hdf5_space >= 0 ? H5Sget_simple_extent_npoints(hdf5_space) : -1;
  if(hdf5_space >= 0)
    H5Sclose(hdf5_space);

  if(attr_size != size)
    {
      H5E_auto2_t func;
      void *client_data;
      H5Eget_auto2(H5E_DEFAULT, &func, &client_data);
      if(func)
        func(H5E_DEFAULT, client_data);
      HDF5_FATAL("Error detected in HDF5: mismatch in size for attribute %s, expected size = %lld, actual attribute size = %lld\n",
                 attr_name, (long long)size, (long long)attr_size);
    }

  herr_t status = H5Aread(attr_id, mem_type_id, buf);
  if(status < 0)
    HDF5_FATAL("Error detected in HDF5: unable to read attribute %s\n", attr_name);
  return status;
}

herr_t my_H5Aclose(hid_t attr_id, const char *attr_name)
{
  herr_t status = H5Aclose(attr_id);
  if(status < 0)
    HDF5_FATAL("Error detected in HDF5: unable to close attribute %s\n", attr_name);
  return status;
}

herr_t my_H5Dclose(hid_t dataset_id, const char *datasetname)
{
  herr_t status = H5Dclose(dataset_id);
  if(status < 0)
    HDF5_FATAL("Error detected in HDF5: unable to close dataset %s\n", datasetname);
  return status;
}

herr_t my_H5Gclose(hid_t group_id, const char *groupname)
{
  herr_t status = H5Gclose(group_id);
  if(status < 0)
    HDF5_FATAL("Error detected in HDF5: unable to close group %s\n", groupname);
  return status;
}

herr_t my_H5Pclose(hid_t plist)
{
  herr_t status = H5Pclose(plist);
  if(status < 0)
    HDF5_FATAL("Error detected in HDF5: unable to close property\n");
  return status;
}

herr_t my_H5Fclose(hid_t file_id, const char *fname)
{
  herr_t status = H5Fclose(file_id);
  if(status < 0)
    HDF5_FATAL("Error detected in HDF5: unable to close file %s\n", fname);
  return status;
}

herr_t my_H5Sclose(hid_t dataspace_id, H5S_class_t type)
{
  herr_t status = H5Sclose(dataspace_id);
  if(status < 0)
    {
      switch(type)
        {
          case H5S_SCALAR:
            HDF5_FATAL("Error detected in HDF5: unable to close a scalar dataspace\n");
          case H5S_SIMPLE:
            HDF5_FATAL("Error detected in HDF5: unable to close a simple dataspace\n");
          default:
            HDF5_FATAL("Error detected in HDF5: unknown dataspace type\n");
        }
    }
  return status;
}

hid_t my_H5Tcopy(hid_t type_id)
{
  hid_t datatype_id = H5Tcopy(type_id);
  if(datatype_id < 0)
    HDF5_FATAL("Error detected in HDF5: could not properly copy datatype\n");
  return datatype_id;
}

herr_t my_H5Tclose(hid_t type_id)
{
  herr_t status = H5Tclose(type_id);
  if(status < 0)
    HDF5_FATAL("Error detected in HDF5: could not properly close datatype\n");
  return status;
}

herr_t my_H5Sselect_hyperslab(hid_t space_id, H5S_seloper_t op, const hsize_t *start, const hsize_t *stride, const hsize_t *count,
                              const hsize_t *block)
{
  herr_t status = H5Sselect_hyperslab(space_id, op, start, stride, count, block);
  if(status < 0)
    HDF5_FATAL("Error detected in HDF5: could not properly select the chosen hyperslab\n");
  return status;
}

size_t my_H5Tget_size(hid_t datatype_id)
{
  size_t size = H5Tget_size(datatype_id);
  if(size == 0)
    HDF5_FATAL("Error detected in HDF5: unable to determine the size of the given datatype\n");
  return size;
}

herr_t my_H5Tset_size(hid_t datatype_id, size_t size)
{
  herr_t status = H5Tset_size(datatype_id, size);
  if(status < 0)
    HDF5_FATAL("Error detected in HDF5: could not properly set the size of the given datatype\n");
  return status;
}

void read_scalar_attribute(hid_t handle, const char *attr_name, void *buf, hid_t mem_type_id)
{
  hid_t hdf5_attribute = my_H5Aopen_name(handle, attr_name);
  my_H5Aread(hdf5_attribute, mem_type_id, buf, attr_name, 1);
  my_H5Aclose(hdf5_attribute, attr_name);
}

int read_scalar_attribute(hid_t handle, const char *attr_name, const char *alternative_name, void *buf, hid_t mem_type_id)
{
  if(H5Aexists(handle, attr_name) > 0)
    {
      read_scalar_attribute(handle, attr_name, buf, mem_type_id);
      return 0;
    }
  read_scalar_attribute(handle, alternative_name, buf, mem_type_id);
  return 1;
}

void read_vector_attribute(hid_t handle, const char *attr_name, void *buf, hid_t mem_type_id, int length)
{
  hid_t hdf5_attribute = my_H5Aopen_name(handle, attr_name);
  my_H5Aread(hdf5_attribute, mem_type_id, buf, attr_name, length);
  my_H5Aclose(hdf5_attribute, attr_name);
}

void write_scalar_attribute(hid_t handle, const char *attr_name, const void *buf, hid_t mem_type_id)
{
  hid_t hdf5_dataspace = my_H5Screate(H5S_SCALAR);
  hid_t hdf5_attribute = my_H5Acreate(handle, attr_name, mem_type_id, hdf5_dataspace, H5P_DEFAULT);
  my_H5Awrite(hdf5_attribute, mem_type_id, buf, attr_name);
  my_H5Aclose(hdf5_attribute, attr_name);
  my_H5Sclose(hdf5_dataspace, H5S_SCALAR);
}

void write_vector_attribute(hid_t handle, const char *attr_name, const void *buf, hid_t mem_type_id, int length)
{
  hid_t hdf5_dataspace = my_H5Screate(H5S_SIMPLE);
  hsize_t adim[1] = {(hsize_t)length};
  if(H5Sset_extent_simple(hdf5_dataspace, 1, adim, adim) < 0)
    HDF5_FATAL("Error detected in HDF5: unable to create a simple dataspace\n");
  hid_t hdf5_attribute = my_H5Acreate(handle, attr_name, mem_type_id, hdf5_dataspace, H5P_DEFAULT);
  my_H5Awrite(hdf5_attribute, mem_type_id, buf, attr_name);
  my_H5Aclose(hdf5_attribute, attr_name);
  my_H5Sclose(hdf5_dataspace, H5S_SIMPLE);
}

void write_string_attribute(hid_t handle, const char *attr_name, const char *buf)
{
  // HDF5 refuses a string type of size 0; an empty text (e.g. a build without
  // revision information) is stored as a single zero byte instead.
  size_t len = strlen(buf);
  static const char empty[1] = {0};
  const char *data = len > 0 ? buf : empty;

  hid_t atype = my_H5Tcopy(H5T_C_S1);
  my_H5Tset_size(atype, len > 0 ? len : 1);

  hid_t hdf5_dataspace = my_H5Screate(H5S_SCALAR);
  hid_t hdf5_attribute = my_H5Acreate(handle, attr_name, atype, hdf5_dataspace, H5P_DEFAULT);
  my_H5Awrite(hdf5_attribute, atype, data, attr_name);
  my_H5Aclose(hdf5_attribute, attr_name);
  my_H5Sclose(hdf5_dataspace, H5S_SCALAR);
  my_H5Tclose(atype);
}
