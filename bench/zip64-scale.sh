#!/usr/bin/env bash
# Scaling with the number of entries: times `folvio-zip -LEVEL -r` against Info-ZIP `zip -LEVEL -r`
# side by side in one run on folders of many small files (10,000, 100,000 and 300,000 by default;
# above 65,535 both write the 64-bit records), at levels 0 and 9, with each one's peak memory as
# /usr/bin/time -v reports it. Every archive is tested with unzip -t. Prints a table row per size
# and level, then the goals: time at most zip's, the largest size at most 35 times the smallest
# (per 30 times the entries), peak memory at most 16 MB plus 300 bytes per entry.
# The trees are made in /dev/shm when it takes them (a small file costs a page there).
# Usage: bench/zip64-scale.sh [COUNT...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(10000 100000 300000)

source bench/common.sh
bench_build folvio-zip
base=/dev/shm
[ -w "$base" ] || base=$root/bench/out
work=$(mktemp -d "$base/folvio-zip64-scale-XXXXXX")
trap 'rm -rf "$work"' EXIT

# tree COUNT : a folder of COUNT small files, 1,000 a folder, every tenth empty; prints its path.
tree() {
  local n=$1 dir=$work/tree-$1
  python3 - "$dir" "$n" <<'EOF'
import os, sys
root, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    folder = os.path.join(root, "folder-%d" % (i // 1000))
    if i % 1000 == 0:
        os.makedirs(folder)
    with open(os.path.join(folder, "file-%d.txt" % i), "w") as f:
        if i % 10:
            f.write("small file number %d with a line of text that repeats a little, a little\n" % i)
EOF
  echo "$dir"
}

# run NAME COMMAND... : one timed run in the work folder; prints "seconds peak-KB"
run() {
  local name=$1
  shift
  rm -f "$work/$name.zip"
  local status=0
  (cd "$work" && /usr/bin/time -v "$@" >/dev/null 2>"$work/$name.time") || status=$?
  if [ "$status" -gt 1 ]; then
    cat "$work/$name.time" >&2
    exit 1
  fi
  local wall peak
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/$name.time" |
    awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
  peak=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/$name.time")
  echo "$wall $peak"
}

echo "| files | level | folvio-zip | zip 3.0 | ratio | peak memory folvio / zip | memory goal | entries |"
echo "|---|---|---|---|---|---|---|---|"
declare -A times
first=${counts[0]}
last=${counts[${#counts[@]}-1]}
for n in "${counts[@]}"; do
  dir=$(tree "$n")
  name=$(basename "$dir")
  for level in 0 9; do
    # Alternate who goes first so that neither always profits from the other's cache work.
    if [ "$level" = 0 ]; then
      read -r tf mf < <(run folvio "$root/build/bin/folvio-zip" -"$level" -r -q "$work/folvio.zip" "$name")
      read -r tz mz < <(run zip zip -"$level" -r -q "$work/zip.zip" "$name")
    else
      read -r tz mz < <(run zip zip -"$level" -r -q "$work/zip.zip" "$name")
      read -r tf mf < <(run folvio "$root/build/bin/folvio-zip" -"$level" -r -q "$work/folvio.zip" "$name")
    fi
    unzip -tqq "$work/folvio.zip"
    unzip -tqq "$work/zip.zip"
    entries=$(zipinfo -1 "$work/folvio.zip" | wc -l)
    times[$n-$level]=$tf
    awk -v n="$n" -v l="$level" -v f="$tf" -v z="$tz" -v mf="$mf" -v mz="$mz" -v e="$entries" 'BEGIN {
      goal = 16 + 300 * e / 1e6
      printf "| %d | %d | %.2f s | %.2f s | %.2f | %.1f MB / %.1f MB | %.1f MB | %d |\n", n, l, f, z, f / z, mf / 1024, mz / 1024, goal, e }'
  done
  rm -rf "$dir"
done
for level in 0 9; do
  awk -v a="${times[$first-$level]}" -v b="${times[$last-$level]}" -v l="$level" -v nf="$first" -v nl="$last" 'BEGIN {
    printf "level %d: %d files take %.1f times as long as %d files (%.0f times the entries)\n", l, nl, b / a, nf, nl / nf }'
done
