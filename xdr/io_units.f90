! Unit numbers of the calling program: three disk units chosen at run time,
! then fixed units whose numbers are part of the file layout agreed with
! other programs (some numbers are deliberately shared by two roles).
module io_units
  implicit none
  private
  public :: dsk, dskp1, dskp2, fixed_units
  public :: set_dsk, set_dskp1, set_dskp2

  integer, save :: dsk = 0
  integer, save :: dskp1 = 0
  integer, save :: dskp2 = 0
  integer, save :: fixed_units(29) = [ &
       36, 37, 26, 10, 38, 29, 47, 24, 25, 27, &
       28, 23, 46, 21, 25, 27, 44, 42, 22, 45, &
       20, 24, 26, 43, 41, 31, 33, 30, 32]

contains

  subroutine set_dsk(u)
    integer, intent(in) :: u
    dsk = u
  end subroutine set_dsk

  subroutine set_dskp1(u)
    integer, intent(in) :: u
    dskp1 = u
  end subroutine set_dskp1

  subroutine set_dskp2(u)
    integer, intent(in) :: u
    dskp2 = u
  end subroutine set_dskp2

end module io_units
