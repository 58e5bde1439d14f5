! Check program of the XDR binding: writes one value of every kind, reads
! them back, rewinds and re-reads, then reads the same items from a file
! written by another program. Any difference ends with a non-zero status.
program trelkin
  use precisn, only: dp
  use xdr_files
  use, intrinsic :: ieee_arithmetic, only: ieee_is_nan
  implicit none

  integer, parameter :: imax = 5, jmax = 7, nstr = 26
  character(len=*), parameter :: rule = repeat('-', 72)
  integer :: iwrite, iread, iread2, i, j, id, nbad
  real(dp) :: dwrite, dread, x
  character(len=nstr) :: string, stringr
  integer :: imat(jmax), imatr(jmax)
  real(dp) :: dmat(imax, jmax), dmatr(imax, jmax)

  write (*, '(a,3i10)') 'digits(i), digits(r), precision(r) = ', &
       digits(i), digits(x), precision(x)

  iwrite = 987654
  dwrite = 1.2345678901234567_dp
  string = 'this is an XDR test string'
  do j = 1, jmax
     imat(j) = 3*j**2 + 7
     do i = 1, imax
        dmat(i, j) = 2.0_dp**i*real(i + (j - 1)*imax, dp)
     end do
  end do

  write (*, '(a)') 'Original values:'
  write (*, '(a,2i6)') 'imax, jmax = ', imax, jmax
  write (*, '(a,i10,2x,e30.19)') 'iwrite, dwrite = ', iwrite, dwrite
  write (*, '(2a)') 'string = ', string
  write (*, '(a,i6)') 'imat: number of els = ', size(imat)
  write (*, '(5i10)') imat
  write (*, '(a,i6)') 'dmat: number of els = ', size(dmat)
  write (*, '(3e20.12)') dmat

  write (*, '(a)') 'opening test XDR file test.xdr:'
  id = open_xdr('testc.xdr', 'write')
  write (*, '(a)') 'opened'
  call xdr_int(id, iwrite)
  call xdr_real(id, dwrite)
  call xdr_chrs(id, string)
  call xdr_imt(id, imat, jmax)
  call xdr_rlmt(id, dmat, imax*jmax)
  call close_xdr(id)
  write (*, '(a)') 'test file test.xdr written'
  write (*, '(a)') rule

  nbad = 0
  id = open_xdr('testc.xdr', 'read')
  call read_and_compare(id)

  write (*, '(a)') 'Rewinding:'
  call rewind_xdr(id)
  write (*, '(a)') 'Try to reread file:'
  iread2 = 0
  call xdr_int(id, iread2)
  write (*, '(a,i10)') 'iread2 = ', iread2
  if (iread2 /= iwrite) then
     write (*, '(a,i10,2x,i10)') 'rewind mismatch: iwrite, iread2 = ', iwrite, iread2
     nbad = nbad + 1
  end if

  write (*, '(a)') 'Basic checks complete:'
  write (*, '(a)') rule
  write (*, '(a)') 'Check foreign xdr file:'
  id = open_xdr('test.for.xdr', 'read')
  call read_and_compare(id)

  write (*, '(a)') 'All checks completed:'
  if (nbad > 0) then
     write (*, '(a,i6)') 'Mismatches found: ', nbad
     stop 1
  end if

contains

  ! The read variables are cleared first so that values left from an
  ! earlier read cannot pass for the ones in this file.
  subroutine read_and_compare(id)
    integer, intent(in) :: id
    integer :: k
    real(dp) :: w(imax*jmax), r(imax*jmax)

    iread = 0
    dread = 0
    stringr = ' '
    imatr = 0
    dmatr = 0
    call xdr_int(id, iread)
    call xdr_real(id, dread)
    call xdr_chrs(id, stringr)
    call xdr_imt(id, imatr, jmax)
    call xdr_rlmt(id, dmatr, imax*jmax)

    write (*, '(a)') 'Read values:'
    write (*, '(a,i10,2x,e30.19)') 'iread, dread = ', iread, dread
    write (*, '(2a)') 'stringr = ', trim(stringr)
    write (*, '(a)') 'imatr: '
    write (*, '(5i10)') imatr
    write (*, '(a)') 'dmatr:'
    write (*, '(3e20.12)') dmatr

    w = reshape(dmat, [imax*jmax])
    r = reshape(dmatr, [imax*jmax])
    do k = 1, imax*jmax
       if (differs(w(k), r(k))) then
          write (*, '(i6,a,2e30.19)') k, ' dmat, dmatr = ', w(k), r(k)
          nbad = nbad + 1
       end if
    end do
    if (iread /= iwrite) then
       write (*, '(a,i10,2x,i10)') 'int mismatch: iwrite, iread = ', iwrite, iread
       nbad = nbad + 1
    end if
    if (differs(dwrite, dread)) then
       write (*, '(a,2e30.19)') 'real mismatch: dwrite, dread = ', dwrite, dread
       nbad = nbad + 1
    end if
    if (stringr /= string) then
       write (*, '(5a)') 'string mismatch: string, stringr = "', string, '", "', stringr, '"'
       nbad = nbad + 1
    end if
    do k = 1, jmax
       if (imatr(k) /= imat(k)) then
          write (*, '(i6,a,2i10)') k, ' imat, imatr = ', imat(k), imatr(k)
          nbad = nbad + 1
       end if
    end do
  end subroutine read_and_compare

  logical function differs(a, b)
    real(dp), intent(in) :: a, b
    differs = ieee_is_nan(b) .or. a /= b
  end function differs

end program trelkin
