#!/usr/bin/env bash
# Nightly runs: `folvio-zip -9 --sync` on the archive of the benchmark corpus, with nothing
# changed and with 5% of the files changed, against the full level-9 run that wrote it, and
# Info-ZIP zip's file sync (`zip -FS -r -9`) against its own full run, side by side in one run
# (page cache warm). Each synced archive must equal a full run's byte for byte. Goals: a sync
# with nothing changed takes at most 0.10x the full run's time, with 5% changed at most 0.20x.
# Usage: bench/sync.sh [RUNS]   (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-2}

source bench/common.sh
bench_build folvio-zip
corpus=$(bench_corpus)
out=$root/bench/out/sync
rm -rf "$out"
mkdir -p "$out"
cp -a "$corpus" "$out/tree"  # a copy whose files the script changes
echo "corpus: $corpus, $(find "$out/tree" -type f | wc -l) files, $(du -sm "$out/tree" | cut -f1) MB"
find "$out/tree" -type f -exec cat {} + >/dev/null  # warm the page cache
# Every 20th regular file, in name order: the 5% that changes.
find "$out/tree" -type f | LC_ALL=C sort | awk 'NR % 20 == 0' >"$out/changing"
echo "changing: $(wc -l <"$out/changing") files"

# timed COMMAND... : runs it in the output folder; prints its wall and CPU seconds (exit 1 of
# folvio-zip, files left out, and 12 of zip -FS, nothing to do, are fine)
timed() {
  local status=0
  (cd "$out" && /usr/bin/time -f "%e %U %S" -o "$out/time" "$@" >/dev/null 2>"$out/err") || status=$?
  if [ "$status" -gt 1 ] && [ "$status" != 12 ]; then
    cat "$out/err" >&2
    exit 1
  fi
  tail -n 1 "$out/time" | awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }'
}
change() { local file; while IFS= read -r file; do printf 'changed %s\n' "$1" >>"$file"; done <"$out/changing"; }
same() { cmp -s "$out/$1" "$out/$2" || echo "  note: $1 differs from $2"; }

zipper=$root/build/bin/folvio-zip
best_f=999999 best_s=999999 best_c=999999 best_zf=999999 best_zs=999999 best_zc=999999
for i in $(seq "$runs"); do
  rm -f "$out/folvio.zip" "$out/full.zip" "$out/info.zip"
  read -r f cf < <(timed "$zipper" -9 -q folvio.zip tree)
  read -r zf czf < <(timed zip -r -9 -q info.zip tree)
  cp "$out/folvio.zip" "$out/first.zip"
  read -r s cs < <(timed "$zipper" -9 -q --sync folvio.zip tree)
  same folvio.zip first.zip
  read -r zs czs < <(timed zip -FS -r -9 -q info.zip tree)
  change "$i"
  read -r c cc < <(timed "$zipper" -9 -q --sync folvio.zip tree)
  read -r zc czc < <(timed zip -FS -r -9 -q info.zip tree)
  timed "$zipper" -9 -q full.zip tree >/dev/null
  printf 'run %d: folvio-zip full %6.2f s (CPU %6.2f)  sync unchanged %5.2f s (CPU %5.2f)  sync 5%% %5.2f s (CPU %5.2f)\n' \
    "$i" "$f" "$cf" "$s" "$cs" "$c" "$cc"
  printf '       zip -r -9    %6.2f s (CPU %6.2f)  -FS unchanged  %5.2f s (CPU %5.2f)  -FS 5%%  %5.2f s (CPU %5.2f)\n' \
    "$zf" "$czf" "$zs" "$czs" "$zc" "$czc"
  same folvio.zip full.zip
  best_f=$(min "$best_f" "$f") best_s=$(min "$best_s" "$s") best_c=$(min "$best_c" "$c")
  best_zf=$(min "$best_zf" "$zf") best_zs=$(min "$best_zs" "$zs") best_zc=$(min "$best_zc" "$zc")
done
echo "archives: folvio $(stat -c %s "$out/folvio.zip") bytes, zip $(stat -c %s "$out/info.zip") bytes"

awk -v f="$best_f" -v s="$best_s" -v c="$best_c" -v zf="$best_zf" -v zs="$best_zs" -v zc="$best_zc" 'BEGIN {
  printf "best of runs: folvio-zip full %.2f s, sync unchanged %.2f s (%.3fx), sync 5%% changed %.2f s (%.3fx)\n", f, s, s / f, c, c / f
  printf "              zip full %.2f s, -FS unchanged %.2f s (%.3fx), -FS 5%% changed %.2f s (%.3fx)\n", zf, zs, zs / zf, zc, zc / zf
  printf "goals: unchanged <= 0.10x: %s; 5%% changed <= 0.20x: %s\n", (s / f <= 0.10 ? "met" : "MISSED"), (c / f <= 0.20 ? "met" : "MISSED") }'
