#!/usr/bin/env bash
# Installs what is missing, builds, and runs the shipped example, a Plummer
# sphere of collisionless particles, on 2 MPI tasks. Everything it writes goes
# to run/plummer/.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
bash scripts/install.sh
bash scripts/build.sh

run=run/plummer
rm -rf "$run"
mkdir -p "$run/ics"
cp examples/plummer/param.txt "$run/"
cd "$run"

echo
echo "== 1. Initial conditions: Plummer sphere of 4000 particles, G = M = a = 1"
mpiexec -n 2 "$top/build/vortan-ics" plummer ics/plummer --format 3 --n 4000 --seed 42 \
  --unit-length-cm 1 --unit-mass-g 1 --unit-velocity-cms 1 --G 1

echo
echo "== 2. Simulation on 2 MPI tasks: mpiexec -n 2 Vortan param.txt"
set +e
mpiexec -n 2 "$top/build/Vortan" param.txt 2>&1 | tee vortan.log
status=${PIPESTATUS[0]}
set -e

echo
echo "== 3. Output in $run"
ls output 2>/dev/null | tr '\n' ' '; echo
if [ -f output/snap_004.hdf5 ]; then
  echo "Snapshot 4 (t = 2) holds $(h5dump -a /Header/NumPart_Total output/snap_004.hdf5 2>/dev/null | grep -A1 DATA | tail -1 | tr -s ' ')"
fi
if [ "$status" -ne 0 ]; then
  echo "Vortan failed with status $status; see $run/vortan.log"
  exit "$status"
fi
echo "The run finished; its log is $run/vortan.log."
