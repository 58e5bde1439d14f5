"""Table of xdr_files scenarios: exit status, messages and the files left."""
import os
import re
import subprocess
import sys
import tempfile

import xdr_reference as ref

PROG = os.path.abspath(sys.argv[1])
failures = []

A = [100 + k for k in range(1, 15)]
R = [1.5, -2.25e300, 2.2250738585072014e-308]


def files_equal(*names_and_bytes):
    def check(d):
        blobs = [b if isinstance(b, bytes) else open(os.path.join(d, b), "rb").read()
                 for b in names_and_bytes]
        return all(x == blobs[0] for x in blobs)
    return check


cases = [
    # scenario, status, message pattern, check on the working directory
    ("actions", 0, r"^ok\n$", None),
    ("blanks", 0, r"^ok\n$", lambda d: os.listdir(d) == ["blank.xdr"]),
    ("strided", 0, r"^ok\n$", files_equal("strided.xdr", "contig.xdr", ref.xdr_ints(A[0::2]))),
    ("strided", 0, r"^ok\n$", files_equal("partial.xdr", ref.xdr_ints(A[:3]))),
    ("real64", 0, r"^ok\n$",
     files_equal("plain.xdr", "r64.xdr", ref.xdr_double(R[1]) + ref.xdr_doubles(R))),
    ("handles", 0, r"^ok\n$", None),
    ("short_string", 0, r"^ok\n$", files_equal("s.xdr", ref.xdr_string(b"abc"))),
    ("unknown_action", 1, r"open_xdr error: unknown action = x\n", lambda d: not os.listdir(d)),
    ("empty_action", 1, r"open_xdr error: unknown action = \n", None),
    ("imt_too_many", 1, r"xdr_imt error: n = 7 exceeds the array size 5\n", None),
    ("rlmt_too_many", 1, r"xdr_rlmt error: n = 5 exceeds the array size 4\n", None),
    ("eleventh", 255, r"XDR error: too many files openMax is 10\nError opening file h.xdr\n", None),
    ("handle_zero", 255, r"^XDR error: stream id -1 is outside 0 to 9\n$", None),
    ("double_close", 255, r"^XDR error: stream id 0 is not open\n$", None),
    ("negative_count", 255,
     r"^XDR int array write error, file f.xdr\nnegative number elements specified\n$", None),
    ("truncated", 255, r"^XDR real io error, file t.xdr\n$", None),
    ("truncated64", 255, r"^XDR error 64-bit real read, file t.xdr\n$", None),
    ("full_device", 255,
     r"^XDR error closing file /dev/full\nReason: No space left on device\n$", None),
]

for scenario, status, pattern, check in cases:
    with tempfile.TemporaryDirectory() as d:
        p = subprocess.run([PROG, scenario], cwd=d, capture_output=True, text=True)
        out = p.stdout if status == 0 else p.stderr
        if p.returncode != status:
            failures.append(f"{scenario}: status {p.returncode}, expected {status}; {p.stderr!r}")
        if not re.search(pattern, out):
            failures.append(f"{scenario}: output {out!r} does not match {pattern!r}")
        if check and not check(d):
            failures.append(f"{scenario}: files left in the directory are not as expected")

for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
