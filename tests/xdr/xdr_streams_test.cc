// The C entry points: encoding, the stream table, and every failure path
// (each must end the process with a message, never return quietly).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "xdr_streams.h"

namespace {

using Bytes = std::vector<uint8_t>;

class XdrStreams : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/xdr_streams_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

  std::string path(const std::string &name) const { return dir_ + "/" + name; }

  static int open(const std::string &p, int mode) {
    int n = static_cast<int>(p.size());
    return xdr_open_(&n, p.data(), &mode);
  }
  static Bytes slurp(const std::string &p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  static void spit(const std::string &p, const Bytes &b) {
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char *>(b.data()), b.size());
  }

  std::string dir_;
};

// Big-endian words built by hand, independent of the library's encoder.
Bytes be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
Bytes be64(double d) {
  uint64_t u;
  std::memcpy(&u, &d, 8);
  Bytes b = be32(uint32_t(u >> 32)), lo = be32(uint32_t(u));
  b.insert(b.end(), lo.begin(), lo.end());
  return b;
}
Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST_F(XdrStreams, EachItemHasItsXdrEncoding) {
  struct Case {
    const char *what;
    std::function<void(int)> write;
    Bytes expected;
  };
  const std::vector<Case> cases = {
      {"int", [](int id) { int v = 987654; xdr_fint_(&id, &v); }, be32(987654)},
      {"negative int", [](int id) { int v = -2; xdr_fint_(&id, &v); }, be32(0xFFFFFFFEu)},
      {"double", [](int id) { double v = -1.5; xdr_fdouble_(&id, &v); }, be64(-1.5)},
      {"real64", [](int id) { double v = 1e-300; xdr_real64_(&id, &v); }, be64(1e-300)},
      {"string padded", [](int id) { char s[] = "abcde"; int n = 5; xdr_fstring_(&id, &n, s); },
       cat({be32(5), {'a', 'b', 'c', 'd', 'e', 0, 0, 0}})},
      {"string of 4", [](int id) { char s[] = "wxyz"; int n = 4; xdr_fstring_(&id, &n, s); },
       cat({be32(4), {'w', 'x', 'y', 'z'}})},
      {"empty string", [](int id) { char s[] = ""; int n = 0; xdr_fstring_(&id, &n, s); }, be32(0)},
      {"int array", [](int id) { int a[] = {1, -1}; int n = 2; xdr_imat_(&id, &n, a); },
       cat({be32(2), be32(1), be32(0xFFFFFFFFu)})},
      {"empty int array", [](int id) { int a[1] = {7}; int n = 0; xdr_imat_(&id, &n, a); }, be32(0)},
      {"double array", [](int id) { double a[] = {0.25, 3}; int n = 2; xdr_dmat_(&id, &n, a); },
       cat({be32(2), be64(0.25), be64(3)})},
      {"real64 array", [](int id) { double a[] = {0.25, 3}; int n = 2; xdr_rmat64_(&id, &n, a); },
       cat({be32(2), be64(0.25), be64(3)})},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    int id = open(path("enc.xdr"), 2);
    c.write(id);
    xdr_close_(&id);
    EXPECT_EQ(slurp(path("enc.xdr")), c.expected);
  }
}

TEST_F(XdrStreams, RoundTripAndRewind) {
  int iv = -123456789;
  double dv = 1.2345678901234567, d64 = -0.0;
  char str[] = "this is an XDR test string";
  int slen = 26;
  int imat[7], n7 = 7, n35 = 35;
  double dmat[35];
  for (int j = 0; j < 7; j++) imat[j] = 3 * (j + 1) * (j + 1) + 7;
  for (int k = 0; k < 35; k++) dmat[k] = std::ldexp(k + 0.5, k - 17);

  int id = open(path("rt.xdr"), 2);
  xdr_fint_(&id, &iv);
  xdr_fdouble_(&id, &dv);
  xdr_real64_(&id, &d64);
  xdr_fstring_(&id, &slen, str);
  xdr_imat_(&id, &n7, imat);
  xdr_dmat_(&id, &n35, dmat);
  xdr_rmat64_(&id, &n35, dmat);
  xdr_close_(&id);
  EXPECT_EQ(slurp(path("rt.xdr")).size(), 4u + 8 + 8 + (4 + 28) + (4 + 28) + 2 * (4 + 280));

  id = open(path("rt.xdr"), 1);
  int ir = 0, rlen = 40, imr[7] = {};
  double dr = 0, d64r = 1, dmr[35] = {}, rmr[35] = {};
  char sr[41];
  std::memset(sr, '#', sizeof sr);
  xdr_fint_(&id, &ir);
  xdr_fdouble_(&id, &dr);
  xdr_real64_(&id, &d64r);
  xdr_fstring_(&id, &rlen, sr);
  xdr_imat_(&id, &n7, imr);
  xdr_dmat_(&id, &n35, dmr);
  xdr_rmat64_(&id, &n35, rmr);
  EXPECT_EQ(ir, iv);
  EXPECT_EQ(dr, dv);
  EXPECT_TRUE(std::signbit(d64r) && d64r == 0);
  EXPECT_EQ(rlen, 26);  // the stored length comes back
  EXPECT_EQ(std::string(sr, 26), str);
  EXPECT_EQ(sr[26], '#');  // bytes past the stored string are left alone
  for (int j = 0; j < 7; j++) EXPECT_EQ(imr[j], imat[j]) << j;
  for (int k = 0; k < 35; k++) {
    EXPECT_EQ(dmr[k], dmat[k]) << k;
    EXPECT_EQ(rmr[k], dmat[k]) << k;
  }

  xdr_rewind_(&id);
  int again = 0;
  xdr_fint_(&id, &again);
  EXPECT_EQ(again, iv);
  xdr_close_(&id);
}

TEST_F(XdrStreams, TenStreamsAtOnceAndSlotsAreReused) {
  int ids[10];
  for (int i = 0; i < 10; i++) {
    ids[i] = open(path("s" + std::to_string(i)), 2);
    EXPECT_EQ(ids[i], i);
    int v = 100 + i;
    xdr_fint_(&ids[i], &v);
  }
  EXPECT_EQ(xdr_getid(), -1);
  EXPECT_EXIT(open(path("eleventh"), 2), ::testing::ExitedWithCode(255),
              "XDR error: too many files openMax is 10\nError opening file .*/eleventh\n");

  xdr_close_(&ids[3]);
  EXPECT_EQ(open(path("again"), 2), 3);
  for (int i = 0; i < 10; i++) xdr_close_(&ids[i]);

  // Each stream kept its own file.
  for (int i = 0; i < 10; i++) {
    if (i == 3) continue;
    EXPECT_EQ(slurp(path("s" + std::to_string(i))), be32(100 + i)) << i;
  }
  EXPECT_EQ(xdr_getid(), 0);
}

TEST_F(XdrStreams, NameOfMaximumLengthIsAccepted) {
  std::string p = path("");
  while (p.size() < XDR_MAX_PATH - 2) p += "./";
  p += "f";
  p.resize(XDR_MAX_PATH - 1, 'f');
  int id = open(p, 2);
  xdr_close_(&id);
  EXPECT_EQ(access(p.c_str(), F_OK), 0);
}

// Every failure ends the process with status 255 (exit(-1)) and its message.
TEST_F(XdrStreams, FailuresEndTheProcessWithAMessage) {
  const std::string trunc = path("trunc.xdr");
  const std::string full = "/dev/full";
  spit(path("two_bytes"), {0, 1});
  spit(path("short_string"), cat({be32(26), {'t', 'h', 'i', 's'}}));
  spit(path("short_imat"), cat({be32(7), be32(1), be32(2), be32(3)}));
  spit(path("short_dmat"), cat({be32(3), be64(1), be64(2)}));
  spit(path("imat_of_5"), cat({be32(5), be32(1), be32(2), be32(3), be32(4), be32(5)}));
  spit(path("imat_of_9"), cat({be32(9), be32(1), be32(2), be32(3), be32(4), be32(5), be32(6),
                               be32(7), be32(8), be32(9)}));
  spit(path("string_26"), cat({be32(26), Bytes(28, 'x')}));
  spit(path("dmat_of_2"), cat({be32(2), be64(1), be64(2)}));

  auto reader = [this](const char *name) { return open(path(name), 1); };
  struct Case {
    const char *what;
    std::function<void()> run;
    const char *message;
  };
  const std::vector<Case> cases = {
      {"int past end of file", [&] { int id = reader("two_bytes"), v; xdr_fint_(&id, &v); },
       "^XDR int error, file .*/two_bytes\n$"},
      {"double past end of file", [&] { int id = reader("two_bytes"); double v; xdr_fdouble_(&id, &v); },
       "^XDR real io error, file .*/two_bytes\n$"},
      {"real64 past end of file", [&] { int id = reader("two_bytes"); double v; xdr_real64_(&id, &v); },
       "^XDR error 64-bit real read, file .*/two_bytes\n$"},
      {"string cut short", [&] { int id = reader("short_string"), n = 26; char s[26]; xdr_fstring_(&id, &n, s); },
       "^XDR string io error, file .*/short_string\n$"},
      {"int array cut short", [&] { int id = reader("short_imat"), n = 7, a[7]; xdr_imat_(&id, &n, a); },
       "^XDR int array read error, file .*/short_imat\n$"},
      {"real array cut short", [&] { int id = reader("short_dmat"), n = 3; double a[3]; xdr_dmat_(&id, &n, a); },
       "^XDR read array error, file .*/short_dmat\n$"},
      {"real64 array cut short", [&] { int id = reader("short_dmat"), n = 3; double a[3]; xdr_rmat64_(&id, &n, a); },
       "^XDR error, file .*/short_dmat\n$"},
      {"stored array shorter", [&] { int id = reader("imat_of_5"), n = 7, a[7]; xdr_imat_(&id, &n, a); },
       "^XDR int array read error, file .*/imat_of_5\n7 integers specified, actually read 5\n$"},
      {"stored array longer", [&] { int id = reader("imat_of_9"), n = 7, a[7]; xdr_imat_(&id, &n, a); },
       "^XDR int array read error, file .*/imat_of_9\n7 integers specified, actually read 9\n$"},
      {"stored reals shorter", [&] { int id = reader("dmat_of_2"), n = 3; double a[3]; xdr_dmat_(&id, &n, a); },
       "^XDR read array error, file .*/dmat_of_2\n3 real elements specified, actually read 2!\n$"},
      {"stored real64 shorter", [&] { int id = reader("dmat_of_2"), n = 3; double a[3]; xdr_rmat64_(&id, &n, a); },
       "^XDR error, file .*/dmat_of_2\n3 real64 specified, actually read 2!\n$"},
      {"string longer than buffer", [&] { int id = reader("string_26"), n = 10; char s[10]; xdr_fstring_(&id, &n, s); },
       "^XDR string io error, file .*/string_26\n$"},
      {"full device at close",
       [&] { int id = open(full, 2), v = 1; xdr_fint_(&id, &v); xdr_close_(&id); },
       "^XDR error closing file /dev/full\nReason: No space left on device\n$"},
      {"full device during array write",
       [&] { int id = open(full, 2), n = 5000; std::vector<int> a(n, 1); xdr_imat_(&id, &n, a.data()); },
       "^XDR int array write error, file /dev/full\n$"},
      {"full device during string write",
       [&] { int id = open(full, 2), n = 9000; std::string s(n, 'x'); xdr_fstring_(&id, &n, s.data()); },
       "^XDR string io error, file /dev/full\n$"},
      {"id below range", [] { int id = -1; xdr_close_(&id); }, "^XDR error: stream id -1 is outside 0 to 9\n$"},
      {"id above range", [] { int id = 10, v = 0; xdr_fint_(&id, &v); }, "^XDR error: stream id 10 is outside 0 to 9\n$"},
      {"id never opened", [] { int id = 5; xdr_rewind_(&id); }, "^XDR error: stream id 5 is not open\n$"},
      {"double close", [&] { int id = open(trunc, 2); xdr_close_(&id); xdr_close_(&id); },
       "^XDR error: stream id 0 is not open\n$"},
      {"transfer after close", [&] { int id = open(trunc, 2), v = 0; xdr_close_(&id); xdr_fint_(&id, &v); },
       "^XDR error: stream id 0 is not open\n$"},
      {"negative int array write", [&] { int id = open(trunc, 2), n = -1, a[1]; xdr_imat_(&id, &n, a); },
       "^XDR int array write error, file .*\nnegative number elements specified\n$"},
      {"negative real array write", [&] { int id = open(trunc, 2), n = -3; double a[1]; xdr_dmat_(&id, &n, a); },
       "^XDR real array write error, file .*\nnegative number elements specified!\n$"},
      {"negative real64 array write", [&] { int id = open(trunc, 2), n = -3; double a[1]; xdr_rmat64_(&id, &n, a); },
       "^XDR write real64 array error, file .*\nnegative number elements specified!\n$"},
      {"negative int array read", [&] { int id = reader("imat_of_9"), n = -1, a[1]; xdr_imat_(&id, &n, a); },
       "^XDR int array read error, file .*/imat_of_9\nnegative number elements specified\n$"},
      {"too many reals", [&] { int id = open(trunc, 2), n = 0x20000000; double a[1]; xdr_dmat_(&id, &n, a); },
       "^XDR real array write error, file .*\n536870912 elements specified, more than the maximum 268435455\n$"},
      {"negative string length", [&] { int id = open(trunc, 2), n = -4; char s[1]; xdr_fstring_(&id, &n, s); },
       "^XDR string io error, file .*\nnegative string length -4 specified\n$"},
      {"name too long", [&] { open(path(std::string(XDR_MAX_PATH, 'n')), 2); },
       "^XDR error: file name length [0-9]+ is not in 0 to 255\n$"},
      {"missing file", [&] { reader("no_such_file"); },
       "^Error opening XDR file .*/no_such_file for reading\nReason: No such file or directory\n$"},
      {"unwritable path", [&] { open(path("no_dir/f.xdr"), 2); },
       "^Error opening XDR file .*/no_dir/f.xdr for writing\nReason: No such file or directory\n$"},
      {"unknown mode", [&] { open(trunc, 3); }, "^error: cxdrinit called with mode=3\n$"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EXIT(c.run(), ::testing::ExitedWithCode(255), c.message);
  }
}

}  // namespace
