#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "sort/peano.h"

namespace
{
// Key from its octal digits, most significant first, placing each bit
// directly (independent of the key's own shift and add operators).
peanokey key_from_octal(const std::string &digits)
{
  MyIntPosType w[3] = {0, 0, 0};
  int n             = digits.size();
  for(int i = 0; i < n; i++)
    {
      unsigned d = digits[n - 1 - i] - '0';
      for(int b = 0; b < 3; b++)
        if(d & (1u << b))
          {
            int bit = 3 * i + b;
            w[bit / 64] |= MyIntPosType(1) << (bit % 64);
          }
    }
  return peanokey{w[2], w[1], w[0]};
}

::testing::AssertionResult same_key(const peanokey &a, const peanokey &b)
{
  if(a == b)
    return ::testing::AssertionSuccess();
  char buf[200];
  snprintf(buf, sizeof buf, "%016llx:%016llx:%016llx vs %016llx:%016llx:%016llx", (unsigned long long)a.hs, (unsigned long long)a.is,
           (unsigned long long)a.ls, (unsigned long long)b.hs, (unsigned long long)b.is, (unsigned long long)b.ls);
  return ::testing::AssertionFailure() << buf;
}

MyIntPosType low_bits(MyIntPosType v, int bits) { return bits == 64 ? v : (v & ((MyIntPosType(1) << bits) - 1)); }
}  // namespace

TEST(PeanoKey, KnownPositions)
{
  // Expected digits traced by hand through the state tables (the periodic
  // ones) or by an independent script over the same tables (the mixed ones).
  struct Case
  {
    MyIntPosType x, y, z;
    int bits;
    std::string octal;
  } cases[] = {
      {0, 0, 0, 64, std::string(64, '0')},
      {~0ull, ~0ull, ~0ull, 64, "5" + std::string(63, '1')},
      {1ull << 63, 0, 0, 64, "32" + std::string(62, '6')},
      {0, 0, 1, 64, std::string(63, '0') + "1"},
      {0x0123456789abcdefull, 0xfedcba9876543210ull, 0x0f0f0f0f0f0f0f0full, 64,
       "1111666051716646371124443317400037772460371344465177260611172666"},
      {5, 3, 6, 3, "442"},
      {0x1fffff, 0, 0x123456, 21, "411651166121112121265"},
      // one bit: the octants give row 0 of the digit table; higher bits are ignored
      {0, 0, 0, 1, "0"},
      {0, 0, 1, 1, "7"},
      {0, 1, 0, 1, "1"},
      {0, 1, 1, 1, "6"},
      {1, 0, 0, 1, "3"},
      {1, 0, 1, 1, "4"},
      {1, 1, 0, 1, "2"},
      {1, 1, 1, 1, "5"},
      {~1ull, ~0ull, ~0ull, 1, "6"},
  };

  for(const Case &c : cases)
    EXPECT_TRUE(same_key(peano_hilbert_key(c.x, c.y, c.z, c.bits), key_from_octal(c.octal)))
        << "x=" << c.x << " y=" << c.y << " z=" << c.z << " bits=" << c.bits;
}

TEST(PeanoKey, SmallGridIsBijection)
{
  const int bits = 3, n = 1 << bits;
  std::vector<int> seen(n * n * n, 0);
  for(int x = 0; x < n; x++)
    for(int y = 0; y < n; y++)
      for(int z = 0; z < n; z++)
        {
          peanokey k = peano_hilbert_key(x, y, z, bits);
          ASSERT_EQ(k.hs, 0u);
          ASSERT_EQ(k.is, 0u);
          ASSERT_LT(k.ls, (MyIntPosType)(n * n * n));
          seen[k.ls]++;
        }
  for(int i = 0; i < n * n * n; i++)
    EXPECT_EQ(seen[i], 1) << "key " << i;
}

// Walks all cells of a 2^bits grid in key order: consecutive cells must share a
// face. Odd and even bit counts take different paths through the lookup.
// The same cells at full depth (coordinates in the top bits) must lead with
// the same digits.
TEST(PeanoKey, ConsecutiveKeysAreFaceNeighbours)
{
  for(int bits : {4, 5})
    {
      const int n = 1 << bits;
      std::vector<int> cell(n * n * n, -1);
      for(int x = 0; x < n; x++)
        for(int y = 0; y < n; y++)
          for(int z = 0; z < n; z++)
            {
              peanokey k = peano_hilbert_key(x, y, z, bits);
              ASSERT_LT(k.ls, (MyIntPosType)cell.size());
              cell[k.ls] = (x * n + y) * n + z;

              peanokey deep = peano_hilbert_key(MyIntPosType(x) << (64 - bits), MyIntPosType(y) << (64 - bits),
                                                MyIntPosType(z) << (64 - bits), 64);
              ASSERT_TRUE(same_key(deep >> (3 * (64 - bits)), k));
            }

      for(size_t i = 1; i < cell.size(); i++)
        {
          int a = cell[i - 1], b = cell[i];
          ASSERT_GE(a, 0);
          ASSERT_GE(b, 0);
          int dx = std::abs(a / (n * n) - b / (n * n)), dy = std::abs((a / n) % n - (b / n) % n), dz = std::abs(a % n - b % n);
          EXPECT_EQ(dx + dy + dz, 1) << "bits=" << bits << " step " << i;
        }
    }
}

TEST(PeanoKey, InverseRecoversLowBitsForEveryDepth)
{
  std::mt19937_64 rng(7);
  for(int bits = 1; bits <= 64; bits++)
    for(int rep = 0; rep < 50; rep++)
      {
        MyIntPosType x = rng(), y = rng(), z = rng();
        if(rep == 0)
          x = y = z = ~0ull;
        MyIntPosType rx, ry, rz;
        peano_hilbert_key_inverse(peano_hilbert_key(x, y, z, bits), bits, &rx, &ry, &rz);
        ASSERT_EQ(rx, low_bits(x, bits)) << "bits=" << bits;
        ASSERT_EQ(ry, low_bits(y, bits)) << "bits=" << bits;
        ASSERT_EQ(rz, low_bits(z, bits)) << "bits=" << bits;
      }
}

TEST(PeanoKey, IncrementalDescentMatchesFullKey)
{
  std::mt19937_64 rng(11);
  for(int rep = 0; rep < 200; rep++)
    {
      MyIntPosType x = rng(), y = rng(), z = rng();
      peanokey full  = peano_hilbert_key(x, y, z, 64);

      unsigned char rotation = 0;
      for(int level = 0; level < 64; level++)
        {
          int b             = 63 - level;
          unsigned char pix = (((x >> b) & 1) << 2) | (((y >> b) & 1) << 1) | ((z >> b) & 1);
          unsigned digit    = peano_incremental_key(pix, &rotation);
          unsigned expected = (full >> (3 * b)).ls & 7;
          ASSERT_EQ(digit, expected) << "level " << level;
        }
    }
}

TEST(PeanoKey, AdditionCarriesAcrossWords)
{
  const MyIntPosType ones = ~0ull;
  struct Case
  {
    peanokey a, b, sum;
  } cases[] = {
      {{0, 0, 5}, {0, 0, 7}, {0, 0, 12}},
      {{0, 0, ones}, {0, 0, 1}, {0, 1, 0}},
      {{0, ones, ones}, {0, 0, 1}, {1, 0, 0}},
      {{3, ones, 0}, {0, 1, 0}, {4, 0, 0}},
      {{0, ones, 1}, {0, 0, ones}, {1, 0, 0}},
      {{ones, ones, ones}, {0, 0, 1}, {0, 0, 0}},
      {{1, 2, 3}, {4, 5, 6}, {5, 7, 9}},
  };
  for(const Case &c : cases)
    {
      EXPECT_TRUE(same_key(c.a + c.b, c.sum));
      EXPECT_TRUE(same_key(c.b + c.a, c.sum));
    }
}

TEST(PeanoKey, OffsetPlacesValueAtShift)
{
  struct Case
  {
    unsigned j;
    int shift;
    peanokey expected;
  } cases[] = {
      {1, 0, {0, 0, 1}},
      {5, 62, {0, 1, 1ull << 62}},           // spreads over ls and is
      {7, 126, {1, 3ull << 62, 0}},          // spreads over is and hs
      {3, 128, {3, 0, 0}},                   // hs only
      {7, 189, {7ull << 61, 0, 0}},          // first child digit of the root
      {2, 191, {0, 0, 0}},                   // beyond bit 191: dropped
      {0xffffffffu, 40, {0, 0xff, 0xffffff0000000000ull}},
      {8, -3, {0, 0, 1}},
  };
  for(const Case &c : cases)
    EXPECT_TRUE(same_key(get_peanokey_offset(c.j, c.shift), c.expected)) << "j=" << c.j << " shift=" << c.shift;

  // the children of the root partition the key space in digit order
  for(unsigned i = 0; i < 8; i++)
    EXPECT_TRUE(same_key(get_peanokey_offset(i, 3 * (64 - 0 - 1)), key_from_octal(std::string(1, '0' + i) + std::string(63, '0'))));
}

TEST(PeanoKey, ComparisonIsLexicographicUnsigned)
{
  const MyIntPosType top = 1ull << 63;
  struct Case
  {
    peanokey a, b;
    bool less;
  } cases[] = {
      {{0, 0, 0}, {0, 0, 1}, true},   {{0, 0, ~0ull}, {0, 1, 0}, true}, {{0, ~0ull, ~0ull}, {1, 0, 0}, true},
      {{1, 0, 0}, {0, ~0ull, 0}, false}, {{top, 0, 0}, {1, 0, 0}, false}, {{2, 3, 4}, {2, 3, 4}, false},
  };
  for(const Case &c : cases)
    {
      EXPECT_EQ(c.a < c.b, c.less);
      EXPECT_EQ(c.a >= c.b, !c.less);
    }
}
