#!/usr/bin/env python3
"""Short runs of Vortan as a process: free particles drift ballistically to
TimeMax, snapshots appear at the scheduled times with consecutive numbers, and
the stop, restart and CPU-budget interruptions end or continue a run as they
should. Files are written and read here with struct, independently of the
code's own reader and writer."""
import argparse
import math
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

ARGS = None
ISLANDS = ["-launcher", "fork", "-hosts", "nodeA:3,nodeB:3", "-n", "6"]
HEADER = struct.Struct("<6i6d2d2i6I2i5d6I3if6q")
assert HEADER.size == 256
N = 200


def record(payload):
    return struct.pack("<i", len(payload)) + payload + struct.pack("<i", len(payload))


def write_ics(path, pos, vel, ids, mass, time=0.0):
    """Legacy binary particle file, all particles of type 1 with a table mass."""
    n = len(ids)
    npart = [0, n, 0, 0, 0, 0]
    masses = [0, mass, 0, 0, 0, 0]
    hdr = HEADER.pack(*npart, *masses, time, 0.0, 0, 0, *npart, 0, 1, 0.0, 0.0, 0.0, 0.0, 0.0,
                      *([0] * 6), 0, 0, 0, 0.0, *npart)
    with open(path, "wb") as f:
        f.write(record(hdr))
        f.write(record(struct.pack(f"<{3 * n}f", *[c for p in pos for c in p])))
        f.write(record(struct.pack(f"<{3 * n}f", *[c for v in vel for c in v])))
        f.write(record(struct.pack(f"<{n}I", *ids)))


def read_snapshot(path):
    """Returns (time, {id: (pos, vel)}) of a legacy binary file."""
    with open(path, "rb") as f:
        data = f.read()
    off = 0

    def rec():
        nonlocal off
        (ln,) = struct.unpack_from("<i", data, off)
        body = data[off + 4:off + 4 + ln]
        (ln2,) = struct.unpack_from("<i", data, off + 4 + ln)
        assert ln == ln2, "record markers differ"
        off += ln + 8
        return body

    h = HEADER.unpack(rec())
    n = sum(h[0:6])
    pos = struct.unpack(f"<{3 * n}f", rec())
    vel = struct.unpack(f"<{3 * n}f", rec())
    ids = struct.unpack(f"<{n}I", rec())
    parts = {ids[i]: (pos[3 * i:3 * i + 3], vel[3 * i:3 * i + 3]) for i in range(n)}
    return h[12], parts


def eds_drift(h0, a0, a1):
    """Drift integral of a flat matter-only model from a0 to a1."""
    return 2.0 / h0 * (a0 ** -0.5 - a1 ** -0.5)


class ShortRunTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vortan_run_")
        rng = random.Random(7)
        self.ids = list(range(1, N + 1))
        self.pos = [[rng.uniform(-1, 1) for _ in range(3)] for _ in self.ids]
        self.vel = [[rng.uniform(-2, 2) for _ in range(3)] for _ in self.ids]
        write_ics(os.path.join(self.dir, "ics"), self.pos, self.vel, self.ids, 0.01)
        with open(ARGS.param) as f:
            self.base = f.read()

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def param(self, **values):
        text = self.base
        values.setdefault("InitCondFile", os.path.join(self.dir, "ics"))
        values.setdefault("OutputDir", os.path.join(self.dir, "out"))
        values.setdefault("ICFormat", 1)
        values.setdefault("SnapFormat", 1)
        values.setdefault("TimeBegin", 0.0)
        values.setdefault("TimeMax", 1.0)
        values.setdefault("TimeOfFirstSnapshot", 0.0)
        values.setdefault("TimeBetSnapshot", 0.25)
        values.setdefault("MaxSizeTimestep", 0.01)
        values.setdefault("MaxMemSize", 100)
        for tag, value in values.items():
            text, n = re.subn(rf"(?m)^{tag}\s+\S+", f"{tag} {value}", text)
            assert n == 1, tag
        path = os.path.join(self.dir, "param.txt")
        with open(path, "w") as f:
            f.write(text)
        return path

    def run_vortan(self, ranks, param, timeout=300):
        layout = ISLANDS if ranks == "islands" else ["-n", str(ranks)]
        p = subprocess.run([ARGS.mpiexec] + layout + [ARGS.vortan, param], cwd=self.dir, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, text=True, timeout=timeout)
        return p.returncode, p.stdout

    def snapshots(self):
        out = os.path.join(self.dir, "out")
        return sorted(f for f in os.listdir(out) if re.fullmatch(r"snap_\d{3}", f))

    def check_ballistic(self, path, expected_time, displacement):
        """Every particle sits at x0 + v * displacement(t) of the snapshot time."""
        t, parts = read_snapshot(path)
        self.assertAlmostEqual(t, expected_time, places=10, msg=path)
        self.assertEqual(sorted(parts), self.ids, path)
        d = displacement(t)
        worst = 0.0
        for i, x0, v in zip(self.ids, self.pos, self.vel):
            x0 = [struct.unpack("<f", struct.pack("<f", c))[0] for c in x0]  # as stored in the file
            v = [struct.unpack("<f", struct.pack("<f", c))[0] for c in v]
            p, _ = parts[i]
            for k in range(3):
                worst = max(worst, abs(p[k] - (x0[k] + v[k] * d)) / (1 + abs(x0[k] + v[k] * d)))
        self.assertLess(worst, 3e-7, f"{path}: largest relative deviation from the ballistic path {worst}")

    def test_newtonian_run_drifts_ballistically_to_the_scheduled_outputs(self):
        grid = 2.0 ** 22 / 2.0 ** 29  # largest power-of-two step below MaxSizeTimestep, in time units
        cases = [
            # spacing, expected snapshot times (the last one at TimeMax)
            (0.25, [0.0, 0.25, 0.5, 0.75, 1.0]),
            # off-grid times round to the nearest step boundary; the final
            # time gets a snapshot of its own
            (0.3, [0.0, round(0.3 / grid) * grid, round(0.6 / grid) * grid, round(0.9 / grid) * grid, 1.0]),
        ]
        for ranks in (2, "islands"):
            for spacing, times in cases:
                with self.subTest(ranks=ranks, spacing=spacing):
                    shutil.rmtree(os.path.join(self.dir, "out"), ignore_errors=True)
                    rc, out = self.run_vortan(ranks, self.param(TimeBetSnapshot=spacing))
                    self.assertEqual(rc, 0, out[-3000:])
                    self.assertIn("NOTICE: forces are not yet computed", out)
                    self.assertIn("Final time=1 reached. Simulation ends.", out)
                    self.assertIn("RESTART: NOTICE: restart files are not written yet", out)
                    self.assertEqual(self.snapshots(), [f"snap_{n:03d}" for n in range(len(times))], out[-3000:])
                    for n, t in enumerate(times):
                        self.check_ballistic(os.path.join(self.dir, "out", f"snap_{n:03d}"), t, lambda t: t)
                    self.assertFalse(os.path.exists(os.path.join(self.dir, "out", "cont")))

    def test_particles_leaving_the_start_region_keep_their_positions(self):
        # The region starts at four times the extent of the particles; fast ones
        # leave it several times over and the frame must widen to follow them.
        self.vel = [[20 * c for c in v] for v in self.vel]
        write_ics(os.path.join(self.dir, "ics"), self.pos, self.vel, self.ids, 0.01)
        rc, out = self.run_vortan(2, self.param(TimeBetSnapshot=0.5))
        self.assertEqual(rc, 0, out[-3000:])
        self.assertIn("DOMAIN: Simulation region has enlarged, need to adjusted mapping.", out)
        for n, t in enumerate([0.0, 0.5, 1.0]):
            self.check_ballistic(os.path.join(self.dir, "out", f"snap_{n:03d}"), t, lambda t: t)

    def test_comoving_run_follows_the_drift_integral(self):
        # flat matter-only model; internal units of kpc/h, 1e10 Msun/h, km/s
        h0 = 0.1
        param = self.param(ComovingIntegrationOn=1, Omega0=1, OmegaLambda=0, Hubble=h0, HubbleParam=0.7,
                           UnitLength_in_cm="3.085678e21", UnitMass_in_g="1.989e43", UnitVelocity_in_cm_per_s="1e5",
                           GravityConstantInternal=0, TimeBegin=0.1, TimeMax=0.8, TimeOfFirstSnapshot=0.1,
                           TimeBetSnapshot=2, MaxSizeTimestep=0.02)
        for ranks in (2, "islands"):
            with self.subTest(ranks=ranks):
                shutil.rmtree(os.path.join(self.dir, "out"), ignore_errors=True)
                rc, out = self.run_vortan(ranks, param)
                self.assertEqual(rc, 0, out[-3000:])
                self.assertEqual(self.snapshots(), ["snap_000", "snap_001", "snap_002", "snap_003"], out[-3000:])
                # output times lie on the grid of the largest step: 2^22 ticks of ln(8)/2^29
                grid = math.log(8) / 128
                times = [0.1 * math.exp(round(math.log(a / 0.1) / grid) * grid) for a in (0.1, 0.2, 0.4, 0.8)]
                self.assertAlmostEqual(times[1], 0.2011, places=4)
                # files hold v_file = a^2 dx/dt * a^(-3/2); x moves by a0^(3/2) v_file * drift integral
                for n, a in enumerate(times):
                    self.check_ballistic(os.path.join(self.dir, "out", f"snap_{n:03d}"), a,
                                         lambda t: 0.1 ** 1.5 * eds_drift(h0, 0.1, t))

    def test_interruptions(self):
        cases = [
            # name, control file placed before the start, extra parameters, message, ends early, leaves "cont"
            ("stop", "stop", {}, "stop-file detected. stopping.", True, False),
            ("restart", "restart", {}, "restart-file detected. writing restart files.", False, False),
            ("cpu budget", None, {"TimeLimitCPU": "1e-9"}, "reaching time-limit. stopping.", True, True),
        ]
        for ranks in (2, "islands"):
            for name, control, extra, message, early, cont in cases:
                with self.subTest(ranks=ranks, case=name):
                    out_dir = os.path.join(self.dir, "out")
                    shutil.rmtree(out_dir, ignore_errors=True)
                    os.makedirs(out_dir)
                    if control:
                        open(os.path.join(out_dir, control), "w").close()
                    rc, out = self.run_vortan(ranks, self.param(**extra))
                    self.assertEqual(rc, 0, out[-3000:])
                    self.assertEqual(out.count(message), 1, out[-3000:])
                    self.assertIn("RESTART: NOTICE: restart files are not written yet", out)
                    self.assertIn("requested by", out)
                    self.assertEqual("Final time=1 reached" in out, not early, out[-3000:])
                    self.assertEqual(len(self.snapshots()), 1 if early else 5)
                    self.assertEqual(os.path.exists(os.path.join(out_dir, "cont")), cont)
                    if control:
                        self.assertFalse(os.path.exists(os.path.join(out_dir, control)), "control file not removed")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--vortan", required=True)
    parser.add_argument("--mpiexec", required=True)
    parser.add_argument("--param", required=True)
    ARGS, rest = parser.parse_known_args()
    ARGS.vortan = os.path.abspath(ARGS.vortan)
    ARGS.param = os.path.abspath(ARGS.param)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
