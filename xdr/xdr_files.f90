! Fortran face of the XDR stream table: 1-based handles, character arguments
! and assumed-shape arrays. Whether a transfer reads or writes follows the
! direction the handle was opened in.
module xdr_files
  use, intrinsic :: iso_c_binding, only: c_int, c_double, c_char
  use, intrinsic :: iso_fortran_env, only: error_unit
  implicit none
  private
  public :: use_real64
  public :: open_xdr, close_xdr, rewind_xdr
  public :: xdr_int, xdr_real, xdr_imt, xdr_rlmt, xdr_chrs

  ! Selects the real64 entry points; the bytes on file are the same either
  ! way, only the failure messages differ.
  logical, save :: use_real64 = .false.

  interface xdr_rlmt
     module procedure xdr_rlmt1, xdr_rlmt2, xdr_rlmt3
  end interface xdr_rlmt

  interface
     function c_open(n, path, mode) bind(c, name='xdr_open_') result(id)
       import :: c_int, c_char
       integer(c_int), intent(in) :: n, mode
       character(kind=c_char), intent(in) :: path(*)
       integer(c_int) :: id
     end function c_open
     subroutine c_close(id) bind(c, name='xdr_close_')
       import :: c_int
       integer(c_int), intent(in) :: id
     end subroutine c_close
     subroutine c_rewind(id) bind(c, name='xdr_rewind_')
       import :: c_int
       integer(c_int), intent(in) :: id
     end subroutine c_rewind
     subroutine c_fint(id, v) bind(c, name='xdr_fint_')
       import :: c_int
       integer(c_int), intent(in) :: id
       integer(c_int), intent(inout) :: v
     end subroutine c_fint
     subroutine c_fdouble(id, v) bind(c, name='xdr_fdouble_')
       import :: c_int, c_double
       integer(c_int), intent(in) :: id
       real(c_double), intent(inout) :: v
     end subroutine c_fdouble
     subroutine c_real64(id, v) bind(c, name='xdr_real64_')
       import :: c_int, c_double
       integer(c_int), intent(in) :: id
       real(c_double), intent(inout) :: v
     end subroutine c_real64
     subroutine c_imat(id, n, a) bind(c, name='xdr_imat_')
       import :: c_int
       integer(c_int), intent(in) :: id, n
       integer(c_int), intent(inout) :: a(*)
     end subroutine c_imat
     subroutine c_dmat(id, n, a) bind(c, name='xdr_dmat_')
       import :: c_int, c_double
       integer(c_int), intent(in) :: id, n
       real(c_double), intent(inout) :: a(*)
     end subroutine c_dmat
     subroutine c_rmat64(id, n, a) bind(c, name='xdr_rmat64_')
       import :: c_int, c_double
       integer(c_int), intent(in) :: id, n
       real(c_double), intent(inout) :: a(*)
     end subroutine c_rmat64
     subroutine c_fstring(id, len, data) bind(c, name='xdr_fstring_')
       import :: c_int, c_char
       integer(c_int), intent(in) :: id
       integer(c_int), intent(inout) :: len
       character(kind=c_char), intent(inout) :: data(*)
     end subroutine c_fstring
  end interface

contains

  integer function open_xdr(filename, action)
    character(len=*), intent(in) :: filename, action
    integer(c_int) :: mode
    character :: first

    first = ' '
    if (len(action) > 0) first = action(1:1)
    select case (first)
    case ('R', 'r')
       mode = 1
    case ('W', 'w')
       mode = 2
    case default
       write (error_unit, '(2a)') 'open_xdr error: unknown action = ', action
       stop 1
    end select
    open_xdr = c_open(int(len_trim(filename), c_int), filename, mode) + 1
  end function open_xdr

  subroutine close_xdr(id)
    integer, intent(in) :: id
    call c_close(id - 1)
  end subroutine close_xdr

  subroutine rewind_xdr(id)
    integer, intent(in) :: id
    call c_rewind(id - 1)
  end subroutine rewind_xdr

  subroutine xdr_int(id, i)
    integer, intent(in) :: id
    integer, intent(inout) :: i
    call c_fint(id - 1, i)
  end subroutine xdr_int

  subroutine xdr_real(id, r)
    integer, intent(in) :: id
    real(c_double), intent(inout) :: r
    if (use_real64) then
       call c_real64(id - 1, r)
    else
       call c_fdouble(id - 1, r)
    end if
  end subroutine xdr_real

  ! Reading more elements than the array holds would write past its end.
  subroutine check_count(proc, n, extent)
    character(len=*), intent(in) :: proc
    integer, intent(in) :: n, extent
    if (n > extent) then
       write (error_unit, '(2a,i0,a,i0)') proc, ' error: n = ', n, &
            ' exceeds the array size ', extent
       error stop 1
    end if
  end subroutine check_count

  subroutine xdr_imt(id, imat, n)
    integer, intent(in) :: id, n
    integer, intent(inout) :: imat(:)
    integer, allocatable :: tmp(:)

    call check_count('xdr_imt', n, size(imat))
    if (is_contiguous(imat)) then
       call c_imat(id - 1, n, imat)
    else
       allocate (tmp, source=imat)
       call c_imat(id - 1, n, tmp)
       imat = tmp
    end if
  end subroutine xdr_imt

  subroutine rlmt(id, rmat, n)
    integer, intent(in) :: id, n
    real(c_double), intent(inout) :: rmat(*)
    if (use_real64) then
       call c_rmat64(id - 1, n, rmat)
    else
       call c_dmat(id - 1, n, rmat)
    end if
  end subroutine rlmt

  subroutine xdr_rlmt1(id, rmat, n)
    integer, intent(in) :: id, n
    real(c_double), intent(inout), contiguous :: rmat(:)
    call check_count('xdr_rlmt', n, size(rmat))
    call rlmt(id, rmat, n)
  end subroutine xdr_rlmt1

  subroutine xdr_rlmt2(id, rmat, n)
    integer, intent(in) :: id, n
    real(c_double), intent(inout), contiguous :: rmat(:, :)
    call check_count('xdr_rlmt', n, size(rmat))
    call rlmt(id, rmat, n)
  end subroutine xdr_rlmt2

  subroutine xdr_rlmt3(id, rmat, n)
    integer, intent(in) :: id, n
    real(c_double), intent(inout), contiguous :: rmat(:, :, :)
    call check_count('xdr_rlmt', n, size(rmat))
    call rlmt(id, rmat, n)
  end subroutine xdr_rlmt3

  ! A copy of the declared length goes down, so reading a shorter stored
  ! string leaves the rest of the variable as it was.
  subroutine xdr_chrs(id, string)
    integer, intent(in) :: id
    character(len=*), intent(inout) :: string
    integer(c_int) :: nbytes
    nbytes = len(string)
    call c_fstring(id - 1, nbytes, string)
  end subroutine xdr_chrs

end module xdr_files
