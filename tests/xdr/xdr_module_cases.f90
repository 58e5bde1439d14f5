! Scenarios of the xdr_files module, one per run, chosen by the first
! argument. Good paths check themselves and print "ok"; failure paths are
! judged by the driver from the exit status and messages.
program xdr_module_cases
  use xdr_files
  use precisn, only: dp
  use, intrinsic :: iso_fortran_env, only: error_unit
  implicit none
  character(len=32) :: scenario
  integer :: id, v, k, ids(10), a(14), b(14)
  real(dp) :: x, r(3), rr(3), d(2, 2)

  call get_command_argument(1, scenario)
  a = [(100 + k, k = 1, 14)]
  select case (scenario)

  case ('actions')
     call round_trip('Write', 'read')
     call round_trip('w', 'R')
     call round_trip('WRITE', 'r')
     call round_trip('wr', 'Read')

  case ('blanks')
     id = open_xdr('blank.xdr   ', 'w')
     v = 5
     call xdr_int(id, v)
     call close_xdr(id)
     id = open_xdr('blank.xdr ', 'r')
     v = 0
     call xdr_int(id, v)
     call check(v == 5, 'value through a blank-padded name')
     call close_xdr(id)

  case ('strided')
     id = open_xdr('strided.xdr', 'w')
     call xdr_imt(id, a(1:14:2), 7)
     call close_xdr(id)
     b(1:7) = a(1:14:2)
     id = open_xdr('contig.xdr', 'w')
     call xdr_imt(id, b(1:7), 7)
     call close_xdr(id)
     id = open_xdr('partial.xdr', 'w')
     call xdr_imt(id, a, 3)
     call close_xdr(id)
     b = -1
     id = open_xdr('strided.xdr', 'r')
     call xdr_imt(id, b(2:14:2), 7)
     call close_xdr(id)
     call check(all(b(2:14:2) == a(1:14:2)), 'strided read fills the section')
     call check(all(b(1:13:2) == -1), 'strided read leaves the gaps')

  case ('real64')
     r = [1.5_dp, -2.25e300_dp, tiny(1.0_dp)]
     call write_reals('plain.xdr')
     use_real64 = .true.
     call write_reals('r64.xdr')
     id = open_xdr('plain.xdr', 'r')
     call xdr_real(id, x)
     call xdr_rlmt(id, rr, 3)
     call check(x == r(2) .and. all(rr == r), 'real64 reads what the plain path wrote')

  case ('handles')
     do k = 1, 10
        ids(k) = open_xdr('h.xdr', 'w')
     end do
     call check(all(ids == [(k, k = 1, 10)]), 'handles are 1 to 10')
     call close_xdr(4)
     call check(open_xdr('h.xdr', 'w') == 4, 'a closed handle is reused')

  case ('short_string')
     block
       character(len=3) :: s3
       character(len=8) :: s8
       s3 = 'abc'
       id = open_xdr('s.xdr', 'w')
       call xdr_chrs(id, s3)
       call close_xdr(id)
       s8 = 'XXXXXXXX'
       id = open_xdr('s.xdr', 'r')
       call xdr_chrs(id, s8)
       call check(s8 == 'abcXXXXX', 'shorter stored string keeps the tail')
     end block

  case ('unknown_action')
     id = open_xdr('f.xdr', 'x')
  case ('empty_action')
     id = open_xdr('f.xdr', '')
  case ('imt_too_many')
     id = open_xdr('f.xdr', 'w')
     call xdr_imt(id, a(1:5), 7)
  case ('rlmt_too_many')
     id = open_xdr('f.xdr', 'w')
     call xdr_rlmt(id, d, 5)
  case ('eleventh')
     do k = 1, 11
        id = open_xdr('h.xdr', 'w')
     end do
  case ('handle_zero')
     call close_xdr(0)
  case ('double_close')
     id = open_xdr('f.xdr', 'w')
     call close_xdr(id)
     call close_xdr(id)
  case ('negative_count')
     id = open_xdr('f.xdr', 'w')
     call xdr_imt(id, a, -2)
  case ('truncated', 'truncated64')
     use_real64 = scenario == 'truncated64'
     id = open_xdr('t.xdr', 'w')
     v = 1
     call xdr_int(id, v)
     call close_xdr(id)
     id = open_xdr('t.xdr', 'r')
     call xdr_real(id, x)
  case ('full_device')
     id = open_xdr('/dev/full', 'w')
     v = 1
     call xdr_int(id, v)
     call close_xdr(id)
  case default
     write (error_unit, '(2a)') 'no such scenario: ', trim(scenario)
     error stop 3
  end select
  write (*, '(a)') 'ok'

contains

  subroutine check(cond, what)
    logical, intent(in) :: cond
    character(len=*), intent(in) :: what
    if (.not. cond) then
       write (error_unit, '(2a)') 'check failed: ', what
       error stop 2
    end if
  end subroutine check

  subroutine round_trip(wact, ract)
    character(len=*), intent(in) :: wact, ract
    integer :: h, w, got
    w = len(wact)*1000 + len(ract)
    h = open_xdr('act.xdr', wact)
    call check(h == 1, 'first handle is 1')
    call xdr_int(h, w)
    call close_xdr(h)
    got = 0
    h = open_xdr('act.xdr', ract)
    call xdr_int(h, got)
    call close_xdr(h)
    call check(got == w, 'value back through ' // wact // '/' // ract)
  end subroutine round_trip

  subroutine write_reals(name)
    character(len=*), intent(in) :: name
    integer :: h
    h = open_xdr(name, 'w')
    call xdr_real(h, r(2))
    call xdr_rlmt(h, r, 3)
    call close_xdr(h)
  end subroutine write_reals

end program xdr_module_cases
