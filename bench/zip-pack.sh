#!/usr/bin/env bash
# Packing: times `folvio-zip -LEVEL -r` against Info-ZIP `zip -LEVEL -r -y` on the benchmark corpus,
# side by side in one run (alternating, page cache warm), and prints the ratio of the best runs
# and each one's peak memory as /usr/bin/time -v reports it. Both archives are tested afterwards.
# zip gets -y (links stored as links) because folvio-zip does not follow links to folders (it
# names them as left out, exit code 1); without it zip would pack the linked folders as well.
# Usage: bench/zip-pack.sh [LEVEL] [RUNS]   (default level 9, 5 runs; level 0 stores)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
level=${1:-9}
runs=${2:-5}

source bench/common.sh
bench_build folvio-zip
corpus=$(bench_corpus)
out=$root/bench/out
mkdir -p "$out"
echo "corpus: $corpus, $(find "$corpus" -type f | wc -l) files, $(du -sm "$corpus" | cut -f1) MB"
find "$corpus" -type f -exec cat {} + >/dev/null  # warm the page cache for both

# run NAME COMMAND... : one timed run; prints "seconds peak-KB"
run() {
  local name=$1
  shift
  rm -f "$out/$name.zip"
  local status=0
  (cd "$(dirname "$corpus")" && /usr/bin/time -v "$@" >/dev/null 2>"$out/$name.time") || status=$?
  if [ "$status" -gt 1 ]; then
    cat "$out/$name.time" >&2
    exit 1
  fi
  local wall peak
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$out/$name.time" |
    awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
  peak=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$out/$name.time")
  echo "$wall $peak"
}

name=$(basename "$corpus")
best_f=999999 best_z=999999 peak_f=0 peak_z=0
for i in $(seq "$runs"); do
  # Alternate who goes first so that neither always profits from the other's cache work.
  if [ $((i % 2)) = 1 ]; then
    read -r tf mf < <(run folvio "$root/build/bin/folvio-zip" -"$level" -r -q "$out/folvio.zip" "$name")
    read -r tz mz < <(run zip zip -"$level" -r -y -q "$out/zip.zip" "$name")
  else
    read -r tz mz < <(run zip zip -"$level" -r -y -q "$out/zip.zip" "$name")
    read -r tf mf < <(run folvio "$root/build/bin/folvio-zip" -"$level" -r -q "$out/folvio.zip" "$name")
  fi
  printf 'run %d: folvio-zip %6.2f s %6d KB   zip %6.2f s %6d KB\n' "$i" "$tf" "$mf" "$tz" "$mz"
  best_f=$(min "$best_f" "$tf")
  best_z=$(min "$best_z" "$tz")
  peak_f=$((mf > peak_f ? mf : peak_f))
  peak_z=$((mz > peak_z ? mz : peak_z))
done

unzip -tq "$out/folvio.zip" >/dev/null
unzip -tq "$out/zip.zip" >/dev/null
echo "archives: folvio-zip $(stat -c %s "$out/folvio.zip") bytes, zip $(stat -c %s "$out/zip.zip") bytes (both pass unzip -t)"
awk -v f="$best_f" -v z="$best_z" -v mf="$peak_f" -v mz="$peak_z" 'BEGIN {
  printf "best of runs: folvio-zip %.2f s, zip %.2f s, time ratio folvio/zip = %.2f\n", f, z, f / z
  printf "peak memory: folvio-zip %.1f MB, zip %.1f MB\n", mf / 1024, mz / 1024 }'
