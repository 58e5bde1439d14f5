#!/usr/bin/env python3
"""Particle files written and read by vortan-ics, checked with readers that
share no code with the engine: struct for the binary formats, h5py for HDF5."""
import argparse
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

import h5py
import numpy as np

HEADER = struct.Struct("<6i6d2d2i6I2i5d6I3if6q")
assert HEADER.size == 256
BLOCKS = [  # label, dataset, values, numpy type, selection
    ("POS ", "Coordinates", 3, "<f4", "all"),
    ("VEL ", "Velocities", 3, "<f4", "all"),
    ("ID  ", "ParticleIDs", 1, "<u4", "all"),
    ("MASS", "Masses", 1, "<f4", "mass"),
    ("U   ", "InternalEnergy", 1, "<f4", "gas"),
    ("RHO ", "Density", 1, "<f4", "gas"),
    ("HSML", "SmoothingLength", 1, "<f4", "gas"),
    ("SFR ", "StarFormationRate", 1, "<f4", "gas"),
    ("AGE ", "StellarFormationTime", 1, "<f4", "age"),
    ("Z   ", "Metallicity", 1, "<f4", "z"),
    ("NE  ", "ElectronAbundance", 1, "<f4", "gas"),
]

failures = []

# Six ranks on two shared-memory islands of three: each island sets one rank
# aside as listener, so four tasks compute.
ISLANDS = "islands"


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


def parse_header(raw):
    v = HEADER.unpack(raw)
    return {"npart": v[0:6], "mass": v[6:12], "time": v[12], "redshift": v[13], "num_files": v[23], "low": v[16:22],
            "high": v[29:35], "total": v[39:45]}


def selected(sel, t, npart, mass):
    if npart[t] == 0:
        return False
    return {"all": True, "gas": t == 0, "mass": mass[t] == 0, "age": t == 4, "z": t in (0, 4)}[sel]


def read_legacy(path, fmt):
    """Independent reader of formats 1 and 2: every record marker and label is checked."""
    with open(path, "rb") as f:
        data = f.read()
    pos = 0

    def record(expect_label):
        nonlocal pos
        if fmt == 2:
            a, lab, skip, b = struct.unpack_from("<i4sii", data, pos)
            check(a == 8 and b == 8, f"{path}: label record markers {a} {b}")
            check(lab.decode() == expect_label, f"{path}: label {lab!r} != {expect_label!r}")
            pos += 16
        (n1,) = struct.unpack_from("<i", data, pos)
        body = data[pos + 4: pos + 4 + n1]
        (n2,) = struct.unpack_from("<i", data, pos + 4 + n1)
        check(n1 == n2, f"{path}: record markers {n1} != {n2}")
        if fmt == 2:
            check(skip == n1 + 8, f"{path}: label skip {skip} != N + 8 = {n1 + 8}")
        pos += n1 + 8
        return body

    h = parse_header(record("HEAD"))
    npart, mass = h["npart"], h["mass"]
    fields = {}
    for label, name, nv, dt, sel in BLOCKS:
        types = [t for t in range(6) if selected(sel, t, npart, mass)]
        if not types:
            continue
        arr = np.frombuffer(record(label), dtype=dt)
        check(arr.size == nv * sum(npart[t] for t in types), f"{path}: {name} length")
        off = 0
        for t in types:
            n = npart[t] * nv
            fields[(t, name)] = arr[off: off + n].reshape(-1, nv) if nv > 1 else arr[off: off + n]
            off += n
    check(pos == len(data), f"{path}: {len(data) - pos} trailing bytes")
    return h, fields


def read_hdf5(path):
    fields = {}
    with h5py.File(path, "r") as f:
        hd = f["Header"].attrs
        check(hd["NumPart_ThisFile"].dtype == np.uint32, f"{path}: NumPart_ThisFile dtype")
        check(hd["NumPart_Total"].dtype == np.uint64, f"{path}: NumPart_Total dtype")
        for a in ("MassTable", "Time", "Redshift", "BoxSize", "NumFilesPerSnapshot", "Git_commit", "Git_date"):
            check(a in hd, f"{path}: attribute {a}")
        check("Config" in f and "Parameters" in f, f"{path}: Config/Parameters groups")
        check(f["Config"].attrs["NTYPES"] == 6.0, f"{path}: Config NTYPES")
        npart = [int(x) for x in hd["NumPart_ThisFile"]]
        mass = [float(x) for x in hd["MassTable"]]
        h = {"npart": npart, "mass": mass, "num_files": int(hd["NumFilesPerSnapshot"]),
             "total": [int(x) for x in hd["NumPart_Total"]], "time": float(hd["Time"]), "redshift": float(hd["Redshift"])}
        for t in range(6):
            g = f"PartType{t}"
            check((g in f) == (npart[t] > 0), f"{path}: group {g} presence")
            if g not in f:
                continue
            for label, name, nv, dt, sel in BLOCKS:
                want = selected(sel, t, npart, mass) or (sel in ("age", "z") and t in (2, 3))
                check((name in f[g]) == want, f"{path}: {g}/{name} presence")
                if name in f[g]:
                    d = f[g][name]
                    check(d.dtype == np.dtype(dt), f"{path}: {g}/{name} dtype {d.dtype}")
                    check(d.shape == ((npart[t], nv) if nv > 1 else (npart[t],)), f"{path}: {g}/{name} shape")
                    fields[(t, name)] = d[...]
            if "Coordinates" in f[g]:
                check(f[g]["Coordinates"].attrs["to_cgs"] > 0, f"{path}: unit attributes")
    return h, fields


def particles(base, fmt, nfiles):
    """ID -> (type, pos, vel, mass, u), read independently of the engine."""
    names = [base] if nfiles == 1 else [f"{base}.{k}" for k in range(nfiles)]
    out = {}
    for name in names:
        h, fl = read_hdf5(name + ".hdf5") if fmt == 3 else read_legacy(name, fmt)
        check(h["num_files"] == nfiles, f"{name}: num_files {h['num_files']} != {nfiles}")
        for t in range(6):
            if h["npart"][t] == 0:
                continue
            ids = fl[(t, "ParticleIDs")]
            for i, pid in enumerate(ids):
                m = fl[(t, "Masses")][i] if (t, "Masses") in fl else np.float32(h["mass"][t])
                u = fl[(t, "InternalEnergy")][i] if t == 0 else 0
                out[int(pid)] = (t, tuple(fl[(t, "Coordinates")][i]), tuple(fl[(t, "Velocities")][i]), float(np.float32(m)),
                                 float(u))
    return out


class Tool:
    def __init__(self, exe, mpiexec, work):
        self.exe, self.mpiexec, self.work = exe, mpiexec, work

    def run(self, ranks, *args, timeout=300):
        """ranks: None (no launcher), a task count, or ISLANDS."""
        cmd = [self.exe] + [str(a) for a in args]
        if ranks == ISLANDS:
            cmd = [self.mpiexec, "-launcher", "fork", "-hosts", "nodeA:3,nodeB:3", "-n", "6"] + cmd
        elif ranks is not None:
            cmd = [self.mpiexec, "-n", str(ranks)] + cmd
        try:
            p = subprocess.run(cmd, cwd=self.work, capture_output=True, text=True, timeout=timeout)
        except subprocess.TimeoutExpired as e:
            return -1, f"timed out after {timeout} s: {' '.join(cmd)}\n{e.stdout or ''}{e.stderr or ''}"
        return p.returncode, p.stdout + p.stderr

    def dump(self, ranks, base, fmt):
        rc, out = self.run(ranks, "dump", base, "--from", fmt)
        check(rc == 0, f"dump {base} fmt {fmt} on {ranks}: rc={rc}\n{out[-2000:]}")
        rows = {}
        for line in out.splitlines():
            if line.startswith("P "):
                v = line.split()
                rows[int(v[1])] = (int(v[2]), [float(x) for x in v[3:]])
        return rows


def close(a, b, rel=2e-7):
    if not (math.isfinite(a) and math.isfinite(b)):  # inf would pass any relative bound
        return False
    return abs(a - b) <= rel * max(abs(a), abs(b), 1e-30)


def compare_dump(rows, ref, what):
    check(set(rows) == set(ref), f"{what}: ID sets differ ({len(rows)} vs {len(ref)})")
    bad = 0
    for pid, (t, v) in rows.items():
        if pid not in ref:
            continue
        rt, rpos, rvel, rmass, ru = ref[pid]
        ok = t == rt and all(close(v[k], rpos[k]) for k in range(3)) and all(close(v[3 + k], rvel[k]) for k in range(3))
        ok = ok and close(v[6], rmass) and close(v[7], ru)
        bad += not ok
    check(bad == 0, f"{what}: {bad} particles differ")


def round_trips(tool):
    # Per format: writer tasks, files, reader tasks. Together they cover 1 to 4
    # tasks and two islands on both sides, one and several files, even and
    # uneven spreads of files over tasks, and counts not divisible by the
    # task numbers. The particles must be the same in every case.
    layouts = {
        "collapse": [(1, 1, 2), (2, 2, 3), (4, 3, 1), (4, 1, 3), (ISLANDS, 3, None)],
        "plummer": [(1, 1, 4), (3, 3, 2)],
    }
    sizes = {"collapse": 301, "plummer": 257}
    ref = {}
    for fmt in (1, 2, 3):
        for model, rows in layouts.items():
            for writers, nfiles, readers in rows:
                # reading on the islands once is enough; elsewhere on one task
                readers = readers or (ISLANDS if fmt == 3 else 1)
                n = sizes[model]
                base = f"rt_{model}_{fmt}_{writers}_{nfiles}"
                rc, out = tool.run(writers, model, base, "--format", fmt, "--files", nfiles, "--n", n, "--concurrent", 1)
                check(rc == 0, f"write {base}: rc={rc}\n{out[-2000:]}")
                if rc:
                    continue
                got = particles(os.path.join(tool.work, base), fmt, nfiles)
                if model not in ref:
                    ref[model] = got
                    check(len(got) == n, f"{base}: {len(got)} particles")
                check(got == ref[model], f"{base}: particles differ from the reference")
                compare_dump(tool.dump(readers, base, fmt), got, f"read back {base} on {readers}")


def conversion_chain(tool):
    rc, out = tool.run(2, "collapse", "cv1", "--format", 1, "--n", 500)
    check(rc == 0, f"write cv1: {out[-1000:]}")
    chain = [("cv1", 1, "cv2", 2, 3), ("cv2", 2, "cv3", 3, 1), ("cv3", 3, "cv4", 1, 4)]
    for src, f1, dst, f2, ranks in chain:
        rc, out = tool.run(ranks, "convert", src, dst, "--from", f1, "--to", f2)
        check(rc == 0, f"convert {src}->{dst}: rc={rc}\n{out[-2000:]}")
    a = particles(os.path.join(tool.work, "cv1"), 1, 1)
    b = particles(os.path.join(tool.work, "cv4"), 1, 1)
    check(a == b, "conversion 1 -> 2 -> 3 -> 1 changed the particles")
    check(any(p[4] != 0 for p in a.values()), "conversion test needs non-zero internal energies")


def patch(path, offset, fmt, *values):
    with open(path, "r+b") as f:
        f.seek(offset)
        f.write(struct.pack(fmt, *values))


def legacy_offsets(path, fmt):
    """label -> offset of the leading length word of its data record."""
    data = open(path, "rb").read()
    pos, out, i = 0, {}, 0
    order = ["HEAD"] + [b[0] for b in BLOCKS]
    while pos < len(data):
        if fmt == 2:
            lab = data[pos + 4: pos + 8].decode()
            out[lab + "@label"] = pos
            pos += 16
        else:
            lab = None
        (n,) = struct.unpack_from("<i", data, pos)
        out[lab or f"#{i}"] = pos
        pos += n + 8
        i += 1
    return out


def failure_table(tool):
    w = tool.work
    for fmt in (1, 2, 3):
        rc, out = tool.run(None, "collapse", f"good{fmt}", "--format", fmt, "--n", 200)
        check(rc == 0, f"write good{fmt}")
    ext = {1: "", 2: "", 3: ".hdf5"}

    def variant(fmt, name, mutate):
        src = os.path.join(w, f"good{fmt}{ext[fmt]}")
        dst = os.path.join(w, f"{name}{ext[fmt]}")
        shutil.copy(src, dst)
        mutate(dst)
        return name

    rc, out = tool.run(2, "collapse", "goodset", "--format", 1, "--files", 2, "--n", 200)
    check(rc == 0, f"write goodset: {out[-800:]}")

    def set_variant(name, filenr, num_files):
        for k in range(2):
            shutil.copy(os.path.join(w, f"goodset.{k}"), os.path.join(w, f"{name}.{k}"))
        patch(os.path.join(w, f"{name}.{filenr}"), 4 + 124, "<i", num_files)
        return name

    def truncate(p):
        os.truncate(p, os.path.getsize(p) * 6 // 10)

    o1 = legacy_offsets(os.path.join(w, "good1"), 1)
    o2 = legacy_offsets(os.path.join(w, "good2"), 2)
    pos_len = struct.unpack_from("<i", open(os.path.join(w, "good1"), "rb").read(), o1["#1"])[0]

    def h5mod(fn):
        def m(p):
            with h5py.File(p, "r+") as f:
                fn(f)
        return m

    def short_coords(f):
        del f["PartType0/Coordinates"]
        f["PartType0"].create_dataset("Coordinates", data=np.zeros((150, 3), "f4"))

    def del_ids(f):
        del f["PartType0/ParticleIDs"]

    def wide_h5_ids(f):
        ids = f["PartType0/ParticleIDs"][...].astype("u8") + (np.uint64(1) << np.uint64(32))
        del f["PartType0/ParticleIDs"]
        f["PartType0"].create_dataset("ParticleIDs", data=ids)

    cases = [
        # name, fmt, file (None: missing), expected message
        ("missing", 1, None, r"Can't find files, neither as"),
        ("trunc1", 1, variant(1, "trunc1", truncate), r"truncated"),
        ("trunc2", 2, variant(2, "trunc2", truncate), r"truncated"),
        ("trunc3", 3, variant(3, "trunc3", truncate), r"Error detected in HDF5: unable to open file"),
        ("marker", 1, variant(1, "marker", lambda p: patch(p, o1["#1"] + 4 + pos_len, "<i", pos_len - 12)),
         r"incorrect block-sizes detected"),
        ("headlen", 1, variant(1, "headlen", lambda p: patch(p, 0, "<i", 255)), r"incorrect VORTAN2 header format"),
        ("label", 2, variant(2, "label", lambda p: patch(p, o2["POS @label"] + 4, "4s", b"XXXX")), r"Block 'POS ' not found"),
        ("labelword", 2, variant(2, "labelword", lambda p: patch(p, o2["VEL @label"], "<i", 9)), r"Incorrect Format \(blksize=9\)"),
        ("skip", 2, variant(2, "skip", lambda p: patch(p, o2["POS @label"] + 8, "<i", 1 << 30)), r"bytes to the next label"),
        ("negcount", 1, variant(1, "negcount", lambda p: patch(p, 4, "<i", -5)), r"negative"),
        ("count+1", 1, variant(1, "count+1", lambda p: patch(p, 4, "<i", 201)), r"record length .* does not fit|truncated"),
        ("numfiles", 1, variant(1, "numfiles", lambda p: patch(p, 4 + 124, "<i", 1 << 30)), r"num_files"),
        # only a lone file may leave num_files unset
        ("nf0later", 1, set_variant("nf0later", 1, 0), r"file '.*nf0later\.1': corrupt header, num_files=0 in a file of a set"),
        ("nfneglater", 1, set_variant("nfneglater", 1, -2), r"file '.*nfneglater\.1': corrupt header, num_files=-2"),
        ("nf0first", 1, set_variant("nf0first", 0, 0), r"file: '.*nf0first\.0' says num_files=0"),
        ("nonfinite", 1, variant(1, "nonfinite", lambda p: patch(p, o1["#1"] + 4 + 12, "<f", float("nan"))), r"non-finite"),
        ("empty", 1, variant(1, "empty", lambda p: (patch(p, 4, "<i", 0), patch(p, 4 + 208, "<q", 0))), r"no particles"),
        ("h5shape", 3, variant(3, "h5shape", h5mod(short_coords)), r"dataset 'Coordinates' of particle type 0 has shape"),
        ("h5ids", 3, variant(3, "h5ids", h5mod(del_ids)), r"required dataset 'ParticleIDs' is missing"),
        ("h5ids64", 3, variant(3, "h5ids64", h5mod(wide_h5_ids)),
         r"dataset 'ParticleIDs' of particle type 0 holds integers that do not fit the 4-byte type"),
    ]
    for name, fmt, f, msg in cases:
        rc, out = tool.run(None, "dump", name if f else "nosuchfile", "--from", fmt)
        check(rc != 0, f"failure case {name}: exit status 0")
        check(re.search(msg, out) is not None, f"failure case {name}: message /{msg}/ not in output:\n{out[-1500:]}")

    # an error on two islands ends every rank, the listeners included
    rc, out = tool.run(ISLANDS, "dump", "nosuchfile", "--from", 1, timeout=120)
    check(rc > 0 and "Can't find files, neither as" in out, f"failure on islands: rc={rc} {out[-1500:]}")

    # 64-bit IDs: accepted when they fit, refused when high bits would be lost
    def wide_ids(high):
        def m(p):
            data = bytearray(open(p, "rb").read())
            at = o1["#3"]
            (n,) = struct.unpack_from("<i", data, at)
            ids = np.frombuffer(bytes(data[at + 4: at + 4 + n]), "<u4").astype("<u8") + (np.uint64(high) << np.uint64(32))
            rec = struct.pack("<i", 2 * n) + ids.tobytes() + struct.pack("<i", 2 * n)
            open(p, "wb").write(bytes(data[:at]) + rec + bytes(data[at + n + 8:]))
        return m

    rows = tool.dump(None, variant(1, "ids64", wide_ids(0)), 1)
    check(sorted(rows) == list(range(1, 201)), "64-bit IDs that fit are read exactly")
    rc, out = tool.run(None, "dump", variant(1, "ids64hi", wide_ids(1)), "--from", 1)
    check(rc != 0 and "does not fit into 32 bits" in out, f"64-bit IDs with high bits: {out[-800:]}")

    # the skipped star-formation block must still be consumed in format 1
    def sfr_and_z(p):
        for lab, val in (("#8", 7.0), ("#9", 0.02)):  # SFR, Z (no AGE for gas)
            at = o1[lab]
            (n,) = struct.unpack_from("<i", open(p, "rb").read(), at)
            patch(p, at + 4, f"<{n // 4}f", *([val] * (n // 4)))

    rows = tool.dump(None, variant(1, "sfrz", sfr_and_z), 1)
    check(rows and all(abs(v[10] - 0.02) < 1e-7 for _, v in rows.values()), "metallicity read from the wrong record")

    # a dataset missing for an optional field is zero-filled with a notice
    rc, out = tool.run(None, "dump", variant(3, "novel", h5mod(lambda f: f.__delitem__("PartType0/Velocities"))), "--from", 3)
    check(rc == 0 and "Dataset Velocities not present for particle type 0, using zero." in out, "missing optional dataset")

    # floating-point datasets stored as other writers store them (double,
    # big-endian) hold the same values, read by one task or handed to two
    def other_floats(f):
        for name, dt in (("Coordinates", "<f8"), ("Velocities", ">f4"), ("Masses", ">f8"), ("InternalEnergy", "<f8")):
            if name in f["PartType0"]:
                d = f[f"PartType0/{name}"][...].astype(dt)
                del f[f"PartType0/{name}"]
                f["PartType0"].create_dataset(name, data=d)
    floats = variant(3, "floats", h5mod(other_floats))
    ref = tool.dump(None, "good3", 3)
    for ranks in (None, 2):
        check(tool.dump(ranks, floats, 3) == ref, f"datasets of other float types read differently on {ranks or 1} task(s)")

    # a 4-byte float layout that is not IEEE single precision (11-bit exponent)
    # holds values beyond any float; they must arrive intact
    def wide_exponent(f):
        t = h5py.h5t.IEEE_F64LE.copy()
        t.set_fields(31, 20, 11, 0, 20)
        t.set_precision(32)
        t.set_size(4)
        u = f["PartType0/InternalEnergy"][...].astype("f8") * 1e45
        del f["PartType0/InternalEnergy"]
        d = h5py.h5d.create(f["PartType0"].id, b"InternalEnergy", t, h5py.h5s.create_simple(u.shape))
        d.write(h5py.h5s.ALL, h5py.h5s.ALL, u, mtype=h5py.h5t.NATIVE_DOUBLE)
    rows = tool.dump(None, variant(3, "widefloat", h5mod(wide_exponent)), 3)
    check(all(v[7] > 0 for _, v in ref.values()), "the reference gas has no internal energy to scale")
    bad = sum(not close(v[7], ref[i][1][7] * 1e45, 2e-6) for i, (_, v) in rows.items())
    check(rows.keys() == ref.keys() and bad == 0, f"internal energies in a non-IEEE 4-byte float type: {bad} differ")

    # unwritable place: the parent of the output is a regular file
    open(os.path.join(w, "afile"), "w").close()
    for fmt, msg in ((1, r"can't open file `.*afile/ic.partial' for writing"), (3, r"unable to create file .*afile/ic.hdf5")):
        rc, out = tool.run(None, "collapse", "afile/ic", "--format", fmt, "--n", 10)
        check(rc != 0 and re.search(msg, out) is not None, f"unwritable directory fmt {fmt}: {out[-800:]}")

    # a write that fails part-way (disk full: the file being written leads to
    # /dev/full) is reported, removes the incomplete file and leaves the
    # previous good file untouched
    for fmt in (1, 2, 3):
        base = f"keep{fmt}"
        rc, _ = tool.run(None, "collapse", base, "--format", fmt, "--n", 100)
        final = os.path.join(w, base + ext[fmt])
        before = open(final, "rb").read()
        os.symlink("/dev/full", final + ".partial")
        rc, out = tool.run(None, "collapse", base, "--format", fmt, "--n", 20000)
        check(rc != 0 and re.search(r"I/O error \(f(write|flush|close)\)|Error detected in HDF5", out) is not None,
              f"failed write fmt {fmt} not reported: rc={rc} {out[-800:]}")
        check(f"the incomplete file '{base}{ext[fmt]}.partial' was removed" in out, f"failed write fmt {fmt}: no removal notice")
        check(not os.path.lexists(final + ".partial"), f"failed write fmt {fmt} left the .partial file behind")
        if os.path.lexists(final + ".partial"):
            os.unlink(final + ".partial")
        check(open(final, "rb").read() == before, f"failed write fmt {fmt} damaged the previous file")
        check(not os.path.exists(os.path.join(w, "bak-" + base + ext[fmt])), f"failed write fmt {fmt} moved the file to backup")

    # a successful rewrite keeps the old file as backup
    rc, _ = tool.run(None, "collapse", "keep1", "--format", 1, "--n", 50)
    check(rc == 0, "rewrite of keep1")
    check(particles(os.path.join(w, "bak-keep1"), 1, 1).keys() == set(range(1, 101)), "backup holds the previous file")
    check(particles(os.path.join(w, "keep1"), 1, 1).keys() == set(range(1, 51)), "new file in place")


def header_totals_and_frames(tool):
    w = tool.work
    hdr = 4  # the header body follows the record's length word

    # Totals in the legacy header: high words 0, low words and 64-bit totals
    # equal to the counts.
    n = 301
    rc, out = tool.run(2, "collapse", "tot", "--format", 1, "--files", 2, "--n", n)
    check(rc == 0, f"write tot: {out[-800:]}")
    for k in range(2):
        h = parse_header(open(os.path.join(w, f"tot.{k}"), "rb").read()[hdr:hdr + 256])
        want = (n, 0, 0, 0, 0, 0)
        check(h["low"] == want and h["high"] == (0,) * 6 and h["total"] == want, f"tot.{k}: header totals {h}")

    # On reading, the 64-bit total is preferred; the two 32-bit words stand in
    # only when it is 0 (headers of older writers), high word included.
    cases = [
        # low word, high word, 64-bit total of gas in both files -> total read
        (n + 7, 0, n, n),
        (5, 3, n, n),
        (n, 0, 0, n),
        (n, 1, 0, (1 << 32) + n),
    ]
    for low, high, tot, want in cases:
        for k in range(2):
            shutil.copy(os.path.join(w, f"tot.{k}"), os.path.join(w, f"totp.{k}"))
            path = os.path.join(w, f"totp.{k}")
            patch(path, hdr + 96, "<I", low)
            patch(path, hdr + 168, "<I", high)
            patch(path, hdr + 208, "<q", tot)
        rc, out = tool.run(None, "dump", "totp", "--from", 1)
        m = re.search(r"READIC: Total number of particles :\s+(\d+)", out)
        rows = sum(line.startswith("P ") for line in out.splitlines())
        check(rc == 0 and m is not None and int(m.group(1)) == want and rows == n,
              f"totals low={low} high={high} 64-bit={tot}: read {m and m.group(1)}, {rows} particles, want {want}\n{out[-800:]}")

    # Zero extent: one particle, or all particles at one point, must still get
    # a frame of positive size in which the positions survive the round trip.
    # (A frame of size 0 maps every integer back onto its corner, so the
    # positions alone would not show it; the reported size does.)
    def at_point(point):
        def m(p):
            o = legacy_offsets(p, 1)["#1"]
            (ln,) = struct.unpack_from("<i", open(p, "rb").read(), o)
            patch(p, o + 4, f"<{ln // 4}f", *(point * (ln // 12)))
        return m

    frames = [
        # particles, position patched in (None: as generated), reading tasks
        (1, None, 2),
        (1, (1e12, -3e11, 2.5e11), None),
        (40, (3.25, -1.5, 7.0), 2),
        (40, (0.0, 0.0, 0.0), None),
    ]
    for i, (count, point, ranks) in enumerate(frames):
        base = f"frame{i}"
        rc, out = tool.run(None, "collapse", base, "--format", 1, "--n", count)
        check(rc == 0, f"write {base}: {out[-800:]}")
        if point:
            at_point(point)(os.path.join(w, base))
        _, fl = read_legacy(os.path.join(w, base), 1)
        want = {int(pid): tuple(fl[(0, "Coordinates")][j]) for j, pid in enumerate(fl[(0, "ParticleIDs")])}
        rc, out = tool.run(ranks, "dump", base, "--from", 1)
        m = re.search(r"READIC: Initial root node size: (\S+)", out)
        size = float(m.group(1)) if m else float("nan")
        check(rc == 0 and 0 < size < float("inf"), f"{base} ({count} at {point}) on {ranks}: frame size {size}\n{out[-800:]}")
        rows = {int(v[1]): [float(x) for x in v[3:6]] for v in (ln.split() for ln in out.splitlines() if ln.startswith("P "))}
        got = {pid: tuple(np.float32(x) for x in v) for pid, v in rows.items()}
        check(len(want) == count and got == want, f"{base} ({count} at {point}) on {ranks}: positions {list(got.items())[:2]} "
                                                  f"!= {list(want.items())[:2]}")

    # a lone file may leave num_files unset
    patch(os.path.join(w, "frame2"), hdr + 124, "<i", 0)
    rc, out = tool.run(None, "dump", "frame2", "--from", 1)
    check(rc == 0 and sum(line.startswith("P ") for line in out.splitlines()) == 40, f"lone file with num_files=0: {out[-800:]}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--mpiexec", required=True)
    ap.add_argument("--only", default="")
    a = ap.parse_args()
    if not os.path.exists(a.tool):
        sys.exit(f"{a.tool} not found: the ics/ folder must be part of the build (add_subdirectory(ics))")
    work = tempfile.mkdtemp(prefix="vortan_io_")
    tool = Tool(os.path.abspath(a.tool), a.mpiexec, work)
    groups = {"roundtrip": round_trips, "convert": conversion_chain, "failures": failure_table, "headers": header_totals_and_frames}
    for name, fn in groups.items():
        if a.only and name != a.only:
            continue
        before = len(failures)
        fn(tool)
        print(f"{name}: {'ok' if len(failures) == before else 'FAILED'}")
    if not failures:
        shutil.rmtree(work)
    else:
        print("work directory kept:", work)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
