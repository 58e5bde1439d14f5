#!/usr/bin/env python3
"""Start-up of Vortan as a process: command line, parameter errors, island
layout and run-mode dispatch, on one island and on two islands."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

ARGS = None
ISLANDS = ["-launcher", "fork", "-hosts", "nodeA:3,nodeB:3", "-n", "6"]


def run(ranks, *args, cwd=None, timeout=120):
    """Runs Vortan under mpiexec; ranks is a count or the island layout."""
    layout = ISLANDS if ranks == "islands" else ["-n", str(ranks)]
    cmd = [ARGS.mpiexec] + layout + [ARGS.vortan] + list(args)
    p = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                       text=True, timeout=timeout)
    return p.returncode, p.stdout


def edit_param(text, tag, value):
    out, n = re.subn(rf"(?m)^{tag}\s+\S+", f"{tag} {value}", text)
    assert n == 1, tag
    return out


class StartupTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vortan_startup_")
        with open(ARGS.param) as f:
            self.param_text = f.read()
        self.param = self.write_param(self.param_text)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def write_param(self, text, name="param.txt"):
        path = os.path.join(self.dir, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def test_no_arguments_prints_usage_once_and_exits_cleanly(self):
        for ranks in (1, 2, "islands"):
            with self.subTest(ranks=ranks):
                rc, out = run(ranks, cwd=self.dir)
                self.assertEqual(rc, 0, out)
                self.assertEqual(out.count("Parameters are missing."), 1, out)
                self.assertIn("Start as ./Vortan <ParameterFile> [<RestartFlag>] [<SpecialOptions>]", out)
                self.assertIn("       5          Convert snapshot file to different format [input=ICFormat  output=SnapFormat\n", out)
                self.assertIn("      11          Rearrange most-bound snapshot data", out)
                self.assertEqual(out.count("This is Vortan, version"), 1, out)
                self.assertIn("endrun called, calling MPI_Finalize()\nbye!", out)

    def test_island_layout_is_reported(self):
        rc, out = run(2, cwd=self.dir)
        self.assertIn("Shared memory islands host a minimum of 2 and a maximum of 2 MPI ranks.", out)
        self.assertNotIn("assisting one-sided communication", out)
        self.assertIn("Running on 2 MPI tasks.", out)

        rc, out = run("islands", cwd=self.dir)
        self.assertEqual(rc, 0, out)
        self.assertIn("Shared memory islands host a minimum of 3 and a maximum of 3 MPI ranks.", out)
        self.assertIn("We shall use 2 MPI ranks in total for assisting one-sided communication (1 per shared memory node).", out)
        self.assertIn("Running on 4 MPI tasks.", out)

    def test_build_report(self):
        rc, out = run(1, cwd=self.dir)
        self.assertRegex(out, r"Git commit \S+, ")
        self.assertIn("Code was compiled with the following compiler and flags:\n", out)
        opts = re.search(r"Code was compiled with the following settings:\n((?:    .*\n)+)", out)
        self.assertIsNotNone(opts, out)
        self.assertEqual(opts.group(1).split("\n")[:-1], [
            "    COOLING", "    DOUBLEPRECISION=1", "    VORTAN2_HEADER", "    MULTIPOLE_ORDER=3",
            "    NSOFTCLASSES=2", "    NTYPES=6", "    POSITIONS_IN_64BIT", "    SELFGRAVITY",
            "    STARFORMATION", "    TREE_NUM_BEFORE_NODESPLIT=4"])
        self.assertRegex(out, r"BEGRUN: Size of particle structure\s+\d+  \[bytes\]")

    def test_bad_run_mode_is_refused(self):
        for mode in ("12", "-1", "abc", "3x"):
            with self.subTest(mode=mode):
                rc, out = run(2, self.param, mode, cwd=self.dir)
                self.assertNotEqual(rc, 0, out)
                self.assertIn(f"Unknown run mode '{mode}'", out)
                self.assertIn("Parameters are missing.", out)
        rc, out = run("islands", self.param, "99", cwd=self.dir)
        self.assertNotEqual(rc, 0, out)
        self.assertIn("Unknown run mode '99'", out)

    def test_parameter_file_errors_end_all_ranks_with_failure(self):
        cases = [
            ("unknown tag", self.param_text + "\nNoSuchTag 3\n", "Tag 'NoSuchTag' not allowed"),
            ("bad number", edit_param(self.param_text, "ErrTolTheta", "0.7x"), "Tag 'ErrTolTheta' has value '0.7x'"),
            ("bad value", edit_param(self.param_text, "MaxMemSize", "0"), "MaxMemSize=0 must be positive"),
            ("missing tag", re.sub(r"(?m)^DesNumNgb.*\n", "", self.param_text), "I miss a value for tag 'DesNumNgb'"),
        ]
        for ranks in (2, "islands"):
            for what, text, message in cases:
                with self.subTest(ranks=ranks, what=what):
                    # nothing may be created from a parameter file that failed
                    text = edit_param(text, "OutputDir", "fresh/sub") if "OutputDir" in text else text
                    path = self.write_param(text, "bad.txt")
                    before = set(os.listdir(self.dir))
                    rc, out = run(ranks, path, cwd=self.dir)
                    self.assertNotEqual(rc, 0, out)
                    self.assertIn(message, out)
                    self.assertIn("We stop because of an error in the parameterfile.", out)
                    self.assertNotIn("Code termination", out)  # an orderly stop, not an abort
                    self.assertEqual(set(os.listdir(self.dir)) - before, {"bad.txt-usedvalues"})
                    os.remove(os.path.join(self.dir, "bad.txt-usedvalues"))
        rc, out = run(1, os.path.join(self.dir, "missing.txt"), cwd=self.dir)
        self.assertNotEqual(rc, 0)
        self.assertIn("not found.", out)

    def test_parameters_are_read_and_reported(self):
        self.param = self.write_param(edit_param(self.param_text, "OutputDir", "runs/a/output"))
        rc, out = run(2, self.param, "7", "1", cwd=self.dir)
        self.assertIn("Obtaining parameters from file", out)
        self.assertIn("BEGRUN: G (internal units)       = 1\n", out)
        used = os.path.join(self.dir, "runs", "a", "output", "parameters-usedvalues")  # parents created
        self.assertTrue(os.path.exists(used))
        with open(used) as f:
            self.assertEqual(len(f.readlines()), 61)
        self.assertTrue(os.path.exists(self.param + "-usedvalues"))

    def test_modes_that_read_particles_then_stop(self):
        # Collisionless initial conditions from the generator, named as the
        # parameter file expects.
        os.makedirs(os.path.join(self.dir, "ics"))
        subprocess.run([ARGS.mpiexec, "-n", "2", ARGS.ics, "plummer", os.path.join(self.dir, "ics", "gas_collapse"),
                        "--n", "200", "--format", "3"], check=True, stdout=subprocess.DEVNULL)
        for ranks in (2, "islands"):
            with self.subTest(ranks=ranks, mode=6):
                rc, out = run(ranks, self.param, "6", cwd=self.dir)
                self.assertNotEqual(rc, 0, out)
                self.assertIn("READIC: Total number of particles :  200", out)
                self.assertIn("Compile with option NGENIC to create cosmological initial conditions", out)
            with self.subTest(ranks=ranks, mode=4):
                snap = os.path.join(self.dir, "output", "snap_003.hdf5")
                os.makedirs(os.path.dirname(snap), exist_ok=True)
                shutil.copy(os.path.join(self.dir, "ics", "gas_collapse.hdf5"), snap)
                rc, out = run(ranks, self.param, "4", "3", cwd=self.dir)
                self.assertEqual(rc, 0, out)
                self.assertIn("This option (Power Spectrum) only works for PERIODIC and enabled PMGRID.", out)
                self.assertIn("endrun called", out)

    def test_run_modes_without_machinery_stop_with_their_message(self):
        cases = [
            (["3"], "Need to give the snapshot number for the chosen option."),
            (["5"], "Need to give the snapshot number for the chosen option."),
            (["7", "1"], "Compile with option MERGERTREE for this option"),
            (["8", "1"], "Compile with option MERGERTREE for this option"),
            (["10"], "need to compile with REARRANGE_OPTION for this option to work"),
            (["11"], "need to compile with REARRANGE_OPTION for this option to work"),
        ]
        for ranks in (2, "islands"):
            for extra, message in cases:
                with self.subTest(ranks=ranks, mode=extra):
                    rc, out = run(ranks, self.param, *extra, cwd=self.dir)
                    self.assertNotEqual(rc, 0, out)
                    self.assertIn("Code termination on task=", out)
                    self.assertIn(message, out)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--vortan", required=True)
    parser.add_argument("--mpiexec", required=True)
    parser.add_argument("--param", required=True)
    parser.add_argument("--ics", required=True)
    ARGS, rest = parser.parse_known_args()
    ARGS.vortan = os.path.abspath(ARGS.vortan)
    ARGS.param = os.path.abspath(ARGS.param)
    ARGS.ics = os.path.abspath(ARGS.ics)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
