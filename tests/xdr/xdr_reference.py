"""Independent XDR writer for the check program's five items.

Knows nothing of the library: it packs big-endian words with struct, so a
file from it is a file "written elsewhere". Run as a script it writes the
items to the file named on the command line.
"""
import struct
import sys

IMAX, JMAX = 5, 7


def xdr_int(v):
    return struct.pack(">i", v)


def xdr_double(v):
    return struct.pack(">d", v)


def xdr_string(b):
    return struct.pack(">I", len(b)) + b + b"\0" * (-len(b) % 4)


def xdr_ints(a):
    return struct.pack(">I", len(a)) + b"".join(xdr_int(v) for v in a)


def xdr_doubles(a):
    return struct.pack(">I", len(a)) + b"".join(xdr_double(v) for v in a)


def check_items():
    """The values the check program writes; dmat in column order."""
    return {
        "int": 987654,
        "real": 1.2345678901234567,
        "string": b"this is an XDR test string",
        "imat": [3 * j * j + 7 for j in range(1, JMAX + 1)],
        "dmat": [2.0**i * (i + (j - 1) * IMAX)
                 for j in range(1, JMAX + 1) for i in range(1, IMAX + 1)],
    }


def encode(items):
    return (xdr_int(items["int"]) + xdr_double(items["real"]) +
            xdr_string(items["string"]) + xdr_ints(items["imat"]) +
            xdr_doubles(items["dmat"]))


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as f:
        f.write(encode(check_items()))
