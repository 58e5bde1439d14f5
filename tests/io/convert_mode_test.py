#!/usr/bin/env python3
"""Run mode 5 of Vortan as a process: a snapshot of a comoving run is
converted 1 -> 3 -> 2 and every stored quantity must come back bit for bit.
The snapshot is written here with struct, the results are read with the
independent readers of particle_files_test (struct for formats 1/2, h5py)."""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import particle_files_test as pf  # noqa: E402

ARGS = None
SNAPNUM = 7
TIME = 0.5  # scale factor of the snapshot; TimeBegin differs, so a rescale would show
COUNTS = [120, 100, 0, 0, 40, 0]  # gas, collisionless with a table mass, stars
TABLE_MASS = 0.0123


def record(payload):
    return struct.pack("<i", len(payload)) + payload + struct.pack("<i", len(payload))


def make_snapshot(rng):
    """(type, block) -> values, non-zero in every block that the types carry."""
    def f32(lo, hi, shape):
        return rng.uniform(lo, hi, shape).astype("<f4")

    ids = rng.choice(np.arange(1, 2 ** 31 - 1, 9973, dtype=np.int64), sum(COUNTS), replace=False).astype("<u4")
    fields, start = {}, 0
    for t, n in enumerate(COUNTS):
        if n == 0:
            continue
        # well away from 0: the integer frame keeps a float32 position exact
        # only where its spacing is far above double rounding
        fields[(t, "Coordinates")] = f32(1.0, 2.0, (n, 3))
        fields[(t, "Velocities")] = f32(-300.0, 300.0, (n, 3))
        fields[(t, "ParticleIDs")] = ids[start:start + n]
        start += n
        if t != 1:
            fields[(t, "Masses")] = f32(0.5, 2.0, n)
        if t == 0:
            for name, lo, hi in (("InternalEnergy", 10, 1e4), ("Density", 1e-3, 10), ("SmoothingLength", 0.01, 0.3),
                                 ("StarFormationRate", 1e-4, 5), ("ElectronAbundance", 0.1, 1.2)):
                fields[(t, name)] = f32(lo, hi, n)
        if t == 4:
            fields[(t, "StellarFormationTime")] = f32(0.05, TIME, n)
        if t in (0, 4):
            fields[(t, "Metallicity")] = f32(1e-4, 0.04, n)
    return fields


def write_format1(path, fields, param):
    mass = [0.0, TABLE_MASS, 0, 0, 0, 0]
    hdr = pf.HEADER.pack(*COUNTS, *mass, TIME, 1 / TIME - 1, 1, 1, *COUNTS, 1, 1, 0.0, param["Omega0"], param["OmegaLambda"],
                         param["HubbleParam"], param["Hubble"], *([0] * 6), 0, 0, 0, 0.0, *COUNTS)
    with open(path, "wb") as f:
        f.write(record(hdr))
        for label, name, nv, dt, sel in pf.BLOCKS:
            parts = [fields[(t, name)].tobytes() for t in range(6) if (t, name) in fields]
            if parts:
                f.write(record(b"".join(parts)))


class ConvertModeTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vortan_convert_")
        self.out = os.path.join(self.dir, "out")
        os.makedirs(self.out)
        with open(ARGS.param) as f:
            self.base = f.read()

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def param(self, **values):
        text = self.base
        for tag, value in values.items():
            text, n = re.subn(rf"(?m)^{tag}\s+\S+", f"{tag} {value}", text)
            self.assertEqual(n, 1, tag)
        path = os.path.join(self.dir, "param.txt")
        with open(path, "w") as f:
            f.write(text)
        return path

    def convert(self, **values):
        param = self.param(OutputDir=self.out, NumFilesPerSnapshot=1, MaxMemSize=100, **self.cosmology, **values)
        p = subprocess.run([ARGS.mpiexec, "-n", "2", ARGS.vortan, param, "5", str(SNAPNUM)], cwd=self.dir,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=300)
        self.assertEqual(p.returncode, 0, p.stdout[-3000:])

    def assert_same(self, path, fmt, fields):
        del pf.failures[:]
        h, got = pf.read_hdf5(path) if fmt == 3 else pf.read_legacy(path, fmt)
        self.assertEqual(pf.failures, [], f"{path}: file structure")
        self.assertEqual(list(h["npart"]), COUNTS, path)
        self.assertEqual(list(h["total"]), COUNTS, path)
        self.assertEqual(list(h["mass"]), [0.0, TABLE_MASS, 0, 0, 0, 0], path)
        self.assertEqual((h["time"], h["redshift"], h["num_files"]), (TIME, 1 / TIME - 1, 1), path)
        # format 3 also stores ages and metallicities of types 2 and 3, none here
        self.assertEqual(sorted(got), sorted(fields), path)
        for t in range(6):
            if COUNTS[t] == 0:
                continue
            # particles may come back in another order within a type
            order_in = np.argsort(fields[(t, "ParticleIDs")])
            order_out = np.argsort(got[(t, "ParticleIDs")])
            for (tt, name), want in fields.items():
                if tt != t:
                    continue
                have = got[(t, name)]
                self.assertEqual(have.dtype, want.dtype, f"{path}: type {t} {name}")
                np.testing.assert_array_equal(have[order_out], want[order_in], f"{path}: type {t} {name}")

    def test_conversion_keeps_every_block(self):
        self.cosmology = dict(ComovingIntegrationOn=1, Omega0=0.3, OmegaLambda=0.7, Hubble=0.1, HubbleParam=0.7,
                              TimeBegin=0.1, TimeMax=1.0, TimeOfFirstSnapshot=0.1, TimeBetSnapshot=2, UnitLength_in_cm="3.085678e21",
                              UnitMass_in_g="1.989e43", UnitVelocity_in_cm_per_s="1e5", GravityConstantInternal=0)
        fields = make_snapshot(np.random.default_rng(11))
        write_format1(os.path.join(self.out, f"snap_{SNAPNUM:03d}"), fields, self.cosmology)

        self.convert(ICFormat=1, SnapFormat=3, SnapshotFileBase="snap")
        first = os.path.join(self.out, f"snap_converted_{SNAPNUM:03d}.hdf5")
        self.assert_same(first, 3, fields)

        self.convert(ICFormat=3, SnapFormat=2, SnapshotFileBase="snap_converted")
        self.assert_same(os.path.join(self.out, f"snap_converted_converted_{SNAPNUM:03d}"), 2, fields)


if __name__ == "__main__":
    ap = argparse.ArgumentParser()
    ap.add_argument("--vortan", required=True)
    ap.add_argument("--mpiexec", required=True)
    ap.add_argument("--param", required=True)
    ARGS, rest = ap.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
