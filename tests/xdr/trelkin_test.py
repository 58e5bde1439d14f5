"""Runs the check program against its own file and a table of foreign files."""
import math
import os
import re
import subprocess
import sys
import tempfile

import xdr_reference as ref

TRELKIN = os.path.abspath(sys.argv[1])
failures = []


def expect(cond, what):
    if not cond:
        failures.append(what)


def run_with_foreign(data):
    with tempfile.TemporaryDirectory() as d:
        if data is not None:
            with open(os.path.join(d, "test.for.xdr"), "wb") as f:
                f.write(data)
        p = subprocess.run([TRELKIN], cwd=d, capture_output=True, text=True)
        with open(os.path.join(d, "testc.xdr"), "rb") as f:
            own = f.read()
    return p, own


def changed(**kw):
    items = ref.check_items()
    for k, v in kw.items():
        if k in ("dmat", "imat"):
            items[k] = list(items[k])
            for idx, val in v.items():
                items[k][idx - 1] = val
        else:
            items[k] = v
    return ref.encode(items)


good = ref.encode(ref.check_items())

# A clean run: own file byte-exact, the fixed layout of the printed lines,
# the foreign file read without a mismatch.
p, own = run_with_foreign(good)
expect(p.returncode == 0, f"clean run status {p.returncode}: {p.stderr}")
expect(len(own) == 360, f"testc.xdr is {len(own)} bytes")
expect(own == good, "testc.xdr differs from the independent encoding")
lines = p.stdout.splitlines()
for exact in [
    "digits(i), digits(r), precision(r) =         31        53        15",
    "imax, jmax =      5     7",
    "iwrite, dwrite =     987654       0.1234567890123456690E+01",
    "string = this is an XDR test string",
    "imat: number of els =      7",
    "        10        19        34        55        82",
    "       115       154",
    "dmat: number of els =     35",
    "  0.200000000000E+01  0.800000000000E+01  0.240000000000E+02",
    "  0.544000000000E+03  0.112000000000E+04",
    "iread, dread =     987654       0.1234567890123456690E+01",
    "stringr = this is an XDR test string",
    "iread2 =     987654",
    "-" * 72,
]:
    expect(exact in lines, f"missing line {exact!r}")
order = ["Original values:", "opening test XDR file test.xdr:", "opened",
         "test file test.xdr written", "Read values:", "Rewinding:",
         "Try to reread file:", "Basic checks complete:",
         "Check foreign xdr file:", "Read values:", "All checks completed:"]
pos = 0
for head in order:
    try:
        pos = lines.index(head, pos) + 1
    except ValueError:
        failures.append(f"line {head!r} missing or out of order")
expect(lines.count("Read values:") == 2, "expected two read-back blocks")
expect(not re.search(r"mismatch|dmat, dmatr|Mismatches", p.stdout),
       "mismatch reported on a clean run")

# Foreign files that differ must be reported and end with a non-zero status;
# damaged ones end with the library's error (status 255).
cases = [
    # name, foreign data, status, patterns in stdout+stderr
    ("real element", changed(dmat={12: 0.5}), 1,
     [r"(?m)^    12 dmat, dmatr = \s+0\.4800000000000000000E\+02\s+0\.5000000000000000000E\+00$"]),
    ("NaN element", changed(dmat={35: math.nan}), 1, [r"(?m)^    35 dmat, dmatr = "]),
    ("last bit of a real", changed(real=math.nextafter(1.2345678901234567, 2)), 1,
     [r"real mismatch: dwrite, dread ="]),
    ("integer", changed(int=987655), 1, [r"int mismatch: iwrite, iread =\s+987654\s+987655"]),
    # A shorter stored string must not pass on the tail of the earlier read.
    ("shorter string", changed(string=b"this is an XDR test"), 1, [r"string mismatch"]),
    ("integer array", changed(imat={4: -55}), 1, [r"(?m)^     4 imat, imatr =\s+55\s+-55$"]),
    ("missing", None, 255,
     [r"Error opening XDR file test.for.xdr for reading\nReason: No such file or directory"]),
    ("cut in the real array", good[:300], 255, [r"XDR read array error, file test.for.xdr\n$"]),
    ("cut after the string", good[:44], 255, [r"XDR int array read error, file test.for.xdr\n$"]),
    ("int array of 6", ref.xdr_int(987654) + ref.xdr_double(1.2345678901234567) +
     ref.xdr_string(b"this is an XDR test string") + ref.xdr_ints([10, 19, 34, 55, 82, 115]) +
     ref.xdr_doubles(ref.check_items()["dmat"]), 255,
     [r"XDR int array read error, file test.for.xdr\n7 integers specified, actually read 6\n"]),
    ("string too long", changed(string=b"this is an XDR test string!"), 255,
     [r"XDR string io error, file test.for.xdr"]),
]
for name, data, status, patterns in cases:
    p, _ = run_with_foreign(data)
    expect(p.returncode == status, f"{name}: status {p.returncode}, expected {status}")
    out = p.stdout + p.stderr
    for pat in patterns:
        expect(re.search(pat, out), f"{name}: no match for {pat!r}")
    if status == 1:
        expect("Mismatches found:" in p.stdout, f"{name}: no mismatch count")

for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
