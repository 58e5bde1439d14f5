"""Reads the log files of one statistics step back with parsers of its own.

usage: check_logs.py <output dir> <number of tasks>
The scene: per task one gas particle (mass 2, |v| = 1) and one type-1
particle (mass 1, |v| = 2) at a = 0.5; step 1; treewalk 0.25*(rank+1) s and
densitywalk 0.5 s per task.
"""
import csv
import math
import re
import sys

TIMERS = [
    ("CPU_ALL", None, "total", None), ("CPU_TREE", "CPU_ALL", "treegrav", None),
    ("CPU_TREEBUILD", "CPU_TREE", "treebuild", None), ("CPU_TREEBUILD_INSERT", "CPU_TREEBUILD", "insert", ":r"),
    ("CPU_TREEBUILD_BRANCHES", "CPU_TREEBUILD", "branches", "Dd"), ("CPU_TREEBUILD_TOPLEVEL", "CPU_TREEBUILD", "toplevel", "Ee"),
    ("CPU_TREEFORCE", "CPU_TREE", "treeforce", None), ("CPU_TREEWALK", "CPU_TREEFORCE", "treewalk", "*t"),
    ("CPU_TREEIMBALANCE", "CPU_TREEFORCE", "treeimbalance", "xX"), ("CPU_TREEFETCH", "CPU_TREEFORCE", "treefetch", "&e"),
    ("CPU_TREESTACK", "CPU_TREEFORCE", "treestack", "#a"), ("CPU_NGBTREEUPDATEVEL", "CPU_ALL", "ngbtreevelupdate", "Bb"),
    ("CPU_NGBTREEUPDATEMAXHSML", "CPU_ALL", "ngbtreehsmlupdate", "hH"), ("CPU_SPH", "CPU_ALL", "sph", None),
    ("CPU_DENSITY", "CPU_SPH", "density", "dD"), ("CPU_DENSWALK", "CPU_DENSITY", "densitywalk", "eE"),
    ("CPU_DENSFETCH", "CPU_DENSITY", "densityfetch", "fF"), ("CPU_DENSIMBALANCE", "CPU_DENSITY", "densimbalance", "cC"),
    ("CPU_HYDRO", "CPU_SPH", "hydro", "Jj"), ("CPU_HYDROWALK", "CPU_HYDRO", "hydrowalk", "9H"),
    ("CPU_HYDROFETCH", "CPU_HYDRO", "hydrofetch", "0K"), ("CPU_HYDROIMBALANCE", "CPU_HYDRO", "hydroimbalance", "[y"),
    ("CPU_DOMAIN", "CPU_ALL", "domain", "+l"), ("CPU_PEANO", "CPU_ALL", "peano", '"o'),
    ("CPU_DRIFTS", "CPU_ALL", "drift/kicks", "?A"), ("CPU_TIMELINE", "CPU_ALL", "timeline", ")I"),
    ("CPU_TREE_TIMESTEPS", "CPU_ALL", "treetimesteps", "0W"), ("CPU_SNAPSHOT", "CPU_ALL", "i/o", "3B"),
    ("CPU_LOGS", "CPU_ALL", "logs", "Kk"), ("CPU_COOLING_SFR", "CPU_ALL", "sfrcool", "1T"),
    ("CPU_RESTART", "CPU_ALL", "restart", "Cc"), ("CPU_MISC", "CPU_ALL", "misc", "7F"),
]

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


def close(a, b, tol=1e-6):
    return abs(a - b) <= tol * max(1.0, abs(b))


def depth(name):
    d = 0
    parent = dict((t[0], t[1]) for t in TIMERS)[name]
    while parent is not None:
        d += 1
        parent = dict((t[0], t[1]) for t in TIMERS)[parent]
    return d


def main():
    outdir, ntask = sys.argv[1], int(sys.argv[2])
    treewalk = sum(0.25 * (r + 1) for r in range(ntask)) / ntask

    # cpu.csv: one header, every row with exactly its columns
    with open(outdir + "cpu.csv", newline="") as f:
        rows = list(csv.reader(f, skipinitialspace=True))
    header = rows[0]
    expect = ["STEP", "TIME", "CPUS", "HIGHESTTIMEBIN"] + [f"{t[0]}{k}" for t in TIMERS for k in (1, 2, 3)]
    check(header == expect, f"cpu.csv header {header[:8]}...")
    check(len(rows) >= 2, "cpu.csv has no row")
    for i, r in enumerate(rows[1:]):
        check(len(r) == len(header), f"cpu.csv row {i} has {len(r)} columns, header {len(header)}")
    row = dict(zip(header, rows[1]))
    check(int(row["STEP"]) == 1 and int(row["CPUS"]) == ntask and int(row["HIGHESTTIMEBIN"]) == 5, f"cpu.csv leading {rows[1][:4]}")
    check(close(float(row["TIME"]), 0.5), "cpu.csv TIME")
    val = {k: float(v) for k, v in row.items() if k.startswith("CPU_")}
    check(close(val["CPU_TREEWALK1"], treewalk), f"CPU_TREEWALK1 {val['CPU_TREEWALK1']} != {treewalk}")
    check(close(val["CPU_TREE1"], treewalk) and close(val["CPU_TREEFORCE1"], treewalk), "treegrav inclusive")
    check(close(val["CPU_SPH1"], 0.5) and close(val["CPU_DENSITY1"], 0.5), "sph inclusive")
    children = sum(val[t[0] + "1"] for t in TIMERS if t[1] == "CPU_ALL")
    check(close(val["CPU_ALL1"], children, 1e-5), "total is the sum of its children")
    check(close(val["CPU_ALL3"], 100.0), "total is 100 %")

    # cpu.txt: block header and one line per timer, indented by depth
    lines = open(outdir + "cpu.txt").read().split("\n")
    check(lines[0] == f"Step 1, Time: 0.5, CPUs: {ntask}, HighestActiveTimeBin: 5", f"cpu.txt: {lines[0]!r}")
    check(lines[1] == "                          diff                 cumulative", "cpu.txt column line")
    for i, t in enumerate(TIMERS):
        d = 2 * depth(t[0])
        line = lines[2 + i]
        check(line.startswith(" " * d + t[2].ljust(20 - d)), f"cpu.txt label line {line!r}")
        m = re.fullmatch(r" *([\d.]+)  +([\d.]+)% +([\d.]+)  +([\d.]+)%", line[20:])
        check(m is not None, f"cpu.txt numbers {line!r}")
        if m and t[0] == "CPU_TREEWALK":
            check(close(float(m.group(1)), round(treewalk, 2), 1e-9), "cpu.txt treewalk")
    check(lines[2 + len(TIMERS)] == "", "cpu.txt blank line after block")

    # balance.txt: legend, then the step line with a 120-character bar
    lines = open(outdir + "balance.txt").read().split("\n")
    legend = [f"{t[2]:<20} = '{t[3][0]}' / '{t[3][1]}'" for t in TIMERS if t[3]]
    check(lines[0] == "" and lines[1:1 + len(legend)] == legend and lines[1 + len(legend)] == "", "balance.txt legend")
    m = re.fullmatch(r"Step=\s*1  sec=\s*[\d.]+ Nsync-grv=\s*(\d+) Nsync-hyd=\s*(\d+)  (.*)", lines[2 + len(legend)])
    check(m is not None, f"balance.txt step line {lines[2 + len(legend)]!r}")
    if m:
        check(int(m.group(1)) == 2 * ntask and int(m.group(2)) == ntask, "balance.txt sync counts")
        bar = m.group(3)
        check(len(bar) == 120, f"bar of {len(bar)} characters")
        check("*" in bar and "e" in bar, f"bar lacks treewalk/densitywalk: {bar}")

    # info.txt and timebins.txt
    info = open(outdir + "info.txt").read()
    check(info.startswith("\nSync-Point 1, Time: 0.5, Redshift: 1, Systemstep: 0.01, Dloga: "), f"info.txt {info!r}")
    check(info.rstrip().endswith(f"Nsync-grv: {2 * ntask:10d}, Nsync-hyd: {ntask:10d}"), f"info.txt {info!r}")
    tb = open(outdir + "timebins.txt").read().split("\n")
    check(tb[1].startswith("Sync-Point 1, Time: 0.5, Redshift: 1, Systemstep: 0.01, Dloga: "), f"timebins {tb[1]!r}")
    check(tb[2] == "Occupied timebins: gravity         sph          dt              cumul-grav   cumul-sph A D    avg-time  cpu-frac",
          f"timebins header {tb[2]!r}")
    pat = re.compile(r" (.)  bin=\s*(\d+)\s+(\d+)\s+(\d+)\s+([\d.]+)\s+(\d+)\s+(\d+) (.) (.)\s+([\d.]+)\s+([\d.]+)%")
    bins = {}
    for line in tb[3:5]:
        m = pat.fullmatch(line)
        check(m is not None, f"timebins line {line!r}")
        if m:
            bins[int(m.group(2))] = m.groups()
    if 5 in bins and 3 in bins:
        check(bins[5][0] == "X" and bins[5][2:4] == (str(ntask), "0") and bins[5][7:9] == ("<", "*"), f"bin 5 {bins[5]}")
        check(close(float(bins[5][4]), 32e-3), "bin 5 dt")
        check(bins[5][5:7] == (str(2 * ntask), str(ntask)), f"bin 5 cumulative {bins[5]}")
        check(bins[3][2:4] == (str(ntask), str(ntask)) and bins[3][7:9] == (" ", " "), f"bin 3 {bins[3]}")
    check(tb[5] == "               ------------------------", "timebins rule")
    check(tb[6] == f"Total active:   {2 * ntask:10d}  {ntask:10d}", f"timebins total {tb[6]!r}")

    # energy.txt: 28 columns
    cols = [float(x) for x in open(outdir + "energy.txt").read().split("\n")[0].split()]
    check(len(cols) == 28, f"energy.txt has {len(cols)} columns")
    if len(cols) == 28:
        n = ntask
        check(close(cols[0], 0.5) and close(cols[1], 36 * n) and cols[2] == 0 and close(cols[3], 12 * n), f"energy totals {cols[:4]}")
        check(close(cols[4], 36 * n) and close(cols[6], 4 * n), "gas energies (same a^-2 factor as other types)")
        check(close(cols[9], 8 * n), "type-1 kinetic energy")
        check(close(cols[22], 2 * n) and close(cols[23], n) and all(c == 0 for c in cols[24:]), f"masses {cols[22:]}")

    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
