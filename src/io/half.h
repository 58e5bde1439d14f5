#ifndef VORTAN_IO_HALF_H
#define VORTAN_IO_HALF_H

// IEEE 754 binary16 value for two-byte field storage. The arithmetic is the
// compiler's _Float16: conversions from float round to nearest even, values of
// magnitude 65520 and above become infinity, NaN stays NaN, and half -> float
// is exact.

namespace half_float
{
class half
{
 public:
  half() = default;
  explicit half(float f) : v(static_cast<_Float16>(f)) {}
  // Doubles go through single precision first, as the file formats expect.
  explicit half(double d) : v(static_cast<_Float16>(static_cast<float>(d))) {}

  operator float() const { return static_cast<float>(v); }

 private:
  _Float16 v;
};

static_assert(sizeof(half) == 2, "half must occupy two bytes");
}  // namespace half_float

#endif
