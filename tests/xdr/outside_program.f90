! A program from outside the build tree, compiled against the installed
! library and module files only.
program outside_program
  use precisn, only: dp
  use io_units, only: dsk, set_dsk
  use xdr_files
  implicit none
  integer :: id, n, m(3)
  real(dp) :: x

  call set_dsk(17)
  id = open_xdr('outside.xdr', 'write')
  n = dsk
  x = 0.125_dp
  m = [1, 2, 3]
  call xdr_int(id, n)
  call xdr_real(id, x)
  call xdr_imt(id, m, 3)
  call close_xdr(id)

  n = 0
  x = 0
  m = 0
  id = open_xdr('outside.xdr', 'read')
  call xdr_int(id, n)
  call xdr_real(id, x)
  call xdr_imt(id, m, 3)
  call close_xdr(id)
  if (n /= 17 .or. x /= 0.125_dp .or. any(m /= [1, 2, 3])) error stop 'values differ'
  write (*, '(a)') 'outside program ok'
end program outside_program
