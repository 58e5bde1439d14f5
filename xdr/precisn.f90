! Precision kinds shared by programs that use the XDR binding.
module precisn
  implicit none
  private
  public :: sp, dp, wp, init_precisn

  integer, parameter :: sp = selected_real_kind(6, 37)
  integer, parameter :: dp = selected_real_kind(15, 307)
  ! Working precision: what the binding reads and writes for reals.
  integer, parameter :: wp = dp

contains

  ! Kept so that callers which initialise every module can call it.
  subroutine init_precisn()
  end subroutine init_precisn

end module precisn
