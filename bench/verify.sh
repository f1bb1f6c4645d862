#!/usr/bin/env bash
# Reading back: the cost of `folvio-zip -T` (the test after writing) on a level-9 archive of the
# benchmark corpus, and `folvio-unzip -t` and extraction against Info-ZIP unzip's on the same
# archive, side by side in one run (alternating, page cache warm). Extraction must give back the
# corpus byte for byte. Goals: -T adds at most 10% to the writing time (CPU time, the steadier
# figure on a shared machine; wall time is printed too); folvio-unzip no slower
# than unzip in either test or extraction.
# Usage: bench/verify.sh [RUNS]   (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-3}

source bench/common.sh
bench_build folvio-zip folvio-unzip
corpus=$(bench_corpus)
name=$(basename "$corpus")
out=$root/bench/out/verify
rm -rf "$out"
mkdir -p "$out"
echo "corpus: $corpus, $(find "$corpus" -type f | wc -l) files, $(du -sm "$corpus" | cut -f1) MB"
find "$corpus" -type f -exec cat {} + >/dev/null  # warm the page cache

# timed COMMAND... : runs it in the corpus's folder; prints its wall and CPU seconds (user and
# system), the CPU time being the steadier figure on a shared machine (exit 1 = files left out is fine)
timed() {
  local status=0
  (cd "$(dirname "$corpus")" && /usr/bin/time -f "%e %U %S" -o "$out/time" "$@" >/dev/null 2>"$out/err") || status=$?
  if [ "$status" -gt 1 ]; then
    cat "$out/err" >&2
    exit 1
  fi
  tail -n 1 "$out/time" | awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }'
}

zipper=$root/build/bin/folvio-zip
unzipper=$root/build/bin/folvio-unzip
best_w=999999 best_t=999999 cpu_w=999999 cpu_t=999999
for i in $(seq "$runs"); do
  rm -f "$out/plain.zip" "$out/tested.zip"
  if [ $((i % 2)) = 1 ]; then
    read -r w cw < <(timed "$zipper" -9 -r -q "$out/plain.zip" "$name")
    read -r t ct < <(timed "$zipper" -9 -r -q -T "$out/tested.zip" "$name")
  else
    read -r t ct < <(timed "$zipper" -9 -r -q -T "$out/tested.zip" "$name")
    read -r w cw < <(timed "$zipper" -9 -r -q "$out/plain.zip" "$name")
  fi
  printf 'write run %d: folvio-zip -9 %6.2f s (CPU %6.2f s)   folvio-zip -9 -T %6.2f s (CPU %6.2f s)\n' "$i" "$w" "$cw" "$t" "$ct"
  best_w=$(min "$best_w" "$w")
  best_t=$(min "$best_t" "$t")
  cpu_w=$(min "$cpu_w" "$cw")
  cpu_t=$(min "$cpu_t" "$ct")
done
cmp -s "$out/plain.zip" "$out/tested.zip" || echo "note: the two archives differ (times of files changed meanwhile?)"
archive=$out/tested.zip
echo "archive: $(stat -c %s "$archive") bytes, $(unzip -Z1 "$archive" | wc -l) entries"

best_ft=999999 best_ut=999999 best_fx=999999 best_ux=999999
cpu_ft=999999 cpu_ut=999999 cpu_fx=999999 cpu_ux=999999
for i in $(seq "$runs"); do
  if [ $((i % 2)) = 1 ]; then
    read -r ft cft < <(timed "$unzipper" -tq "$archive")
    read -r ut cut < <(timed unzip -tq "$archive")
  else
    read -r ut cut < <(timed unzip -tq "$archive")
    read -r ft cft < <(timed "$unzipper" -tq "$archive")
  fi
  rm -rf "$out/x-folvio" "$out/x-unzip"
  sync
  if [ $((i % 2)) = 1 ]; then
    read -r fx cfx < <(timed "$unzipper" -q -d "$out/x-folvio" "$archive")
    read -r ux cux < <(timed unzip -q -d "$out/x-unzip" "$archive")
  else
    read -r ux cux < <(timed unzip -q -d "$out/x-unzip" "$archive")
    read -r fx cfx < <(timed "$unzipper" -q -d "$out/x-folvio" "$archive")
  fi
  printf 'read run %d: test folvio-unzip %5.2f s (CPU %5.2f)  unzip %5.2f s (CPU %5.2f)   extract folvio-unzip %5.2f s (CPU %5.2f)  unzip %5.2f s (CPU %5.2f)\n' \
    "$i" "$ft" "$cft" "$ut" "$cut" "$fx" "$cfx" "$ux" "$cux"
  cpu_ft=$(min "$cpu_ft" "$cft")
  cpu_ut=$(min "$cpu_ut" "$cut")
  cpu_fx=$(min "$cpu_fx" "$cfx")
  cpu_ux=$(min "$cpu_ux" "$cux")
  best_ft=$(min "$best_ft" "$ft")
  best_ut=$(min "$best_ut" "$ut")
  best_fx=$(min "$best_fx" "$fx")
  best_ux=$(min "$best_ux" "$ux")
done

# Byte for byte: every file the archive holds against the corpus (links to folders are left out
# by the writer, links to files are packed as the files they lead to).
differ=$(cd "$(dirname "$corpus")" && unzip -Z1 "$archive" | grep -v '/$' | while IFS= read -r f; do
  cmp -s "$f" "$out/x-folvio/$f" || echo "$f"
done | wc -l)
missing=$(cd "$(dirname "$corpus")" && find "$name" -type f | while IFS= read -r f; do
  [ -f "$out/x-folvio/$f" ] || echo "$f"
done | wc -l)
echo "restored by folvio-unzip: $differ files differ, $missing regular files of the corpus missing"

awk -v w="$best_w" -v t="$best_t" -v cw="$cpu_w" -v ct="$cpu_t" -v ft="$best_ft" -v ut="$best_ut" -v fx="$best_fx" -v ux="$best_ux" \
  -v cft="$cpu_ft" -v cut="$cpu_ut" -v cfx="$cpu_fx" -v cux="$cpu_ux" 'BEGIN {
  printf "best of runs: write %.2f s, write and test %.2f s: -T adds %.1f%% of wall time\n", w, t, (t / w - 1) * 100
  printf "CPU time: write %.2f s, write and test %.2f s: -T adds %.1f%%\n", cw, ct, (ct / cw - 1) * 100
  printf "test: folvio-unzip -t %.2f s, unzip -t %.2f s, ratio %.2f (CPU %.2f s / %.2f s, ratio %.2f)\n", ft, ut, ft / ut, cft, cut, cft / cut
  printf "extract: folvio-unzip %.2f s, unzip %.2f s, ratio %.2f (CPU %.2f s / %.2f s, ratio %.2f)\n", fx, ux, fx / ux, cfx, cux, cfx / cux }'
