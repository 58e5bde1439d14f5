#include "mpi_utils/mpi_utils.h"

MPI_Datatype MPI_MyIntPosType = MPI_DATATYPE_NULL;
MPI_Op MPI_MIN_MyIntPosType;
MPI_Op MPI_MAX_MyIntPosType;
MPI_Op MPI_MIN_MySignedIntPosType;
MPI_Op MPI_MAX_MySignedIntPosType;

namespace
{
template <typename T, bool take_max>
void minmax_op(void *in, void *inout, int *len, MPI_Datatype *type)
{
  const T *a = static_cast<const T *>(in);
  T *b       = static_cast<T *>(inout);
  for(int i = 0; i < *len; i++)
    if(take_max ? (a[i] > b[i]) : (a[i] < b[i]))
      b[i] = a[i];
}
}  // namespace

void my_mpi_types_init(void)
{
  MPI_Type_contiguous(sizeof(MyIntPosType), MPI_BYTE, &MPI_MyIntPosType);
  MPI_Type_commit(&MPI_MyIntPosType);

  MPI_Op_create(minmax_op<MyIntPosType, false>, 1, &MPI_MIN_MyIntPosType);
  MPI_Op_create(minmax_op<MyIntPosType, true>, 1, &MPI_MAX_MyIntPosType);
  MPI_Op_create(minmax_op<MySignedIntPosType, false>, 1, &MPI_MIN_MySignedIntPosType);
  MPI_Op_create(minmax_op<MySignedIntPosType, true>, 1, &MPI_MAX_MySignedIntPosType);
}

void my_mpi_types_free(void)
{
  if(MPI_MyIntPosType == MPI_DATATYPE_NULL)
    return;
  MPI_Op_free(&MPI_MAX_MySignedIntPosType);
  MPI_Op_free(&MPI_MIN_MySignedIntPosType);
  MPI_Op_free(&MPI_MAX_MyIntPosType);
  MPI_Op_free(&MPI_MIN_MyIntPosType);
  MPI_Type_free(&MPI_MyIntPosType);
}
