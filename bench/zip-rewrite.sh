#!/usr/bin/env bash
# Rewriting an archive: times `folvio-zip -d ARCHIVE PATTERN` with a pattern that matches nothing
# (every entry is copied into a new archive beside the old one, which is then renamed over it)
# against `cp` of the same archive over an earlier copy (so that both free the blocks of the file
# they replace), side by side in one run (alternating, page cache warm).
# The rewrite syncs its new archive to the disk before the rename, which cp does not; the run
# therefore also times `cp` followed by `sync` of the copy, the same work as far as the disk sees.
# The archive is the corpus packed with `folvio-zip -0 -r`; it is checked with `unzip -t` after the
# rewrites and must be byte for byte the archive it was.
# Usage: bench/zip-rewrite.sh [RUNS]   (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-5}

source bench/common.sh
bench_build folvio-zip
corpus=$(bench_corpus)
out=$root/bench/out
mkdir -p "$out"
archive=$out/rewrite.zip
rm -f "$archive"
(cd "$(dirname "$corpus")" && "$root/build/bin/folvio-zip" -0 -r -q "$archive" "$(basename "$corpus")") || [ $? = 1 ]
cp "$archive" "$out/rewrite-before.zip"
echo "archive: $(stat -c %s "$archive") bytes, $(unzip -Z1 "$archive" | wc -l) entries"
cat "$archive" >/dev/null  # warm the page cache

# seconds COMMAND... : wall time of one run, started with nothing waiting to be written to the disk
seconds() {
  local start end
  sync
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}
copy_and_sync() { cp "$archive" "$out/copy.zip" && sync "$out/copy.zip"; }

best_f=999999 best_c=999999 best_s=999999
copy_and_sync
for i in $(seq "$runs"); do
  if [ $((i % 2)) = 1 ]; then
    tf=$(seconds "$root/build/bin/folvio-zip" -q -d "$archive" 'no such entry')
    tc=$(seconds cp "$archive" "$out/copy.zip")
    ts=$(seconds copy_and_sync)
  else
    ts=$(seconds copy_and_sync)
    tc=$(seconds cp "$archive" "$out/copy.zip")
    tf=$(seconds "$root/build/bin/folvio-zip" -q -d "$archive" 'no such entry')
  fi
  printf 'run %d: folvio-zip -d %6.3f s   cp %6.3f s   cp+sync %6.3f s\n' "$i" "$tf" "$tc" "$ts"
  best_f=$(min "$best_f" "$tf")
  best_c=$(min "$best_c" "$tc")
  best_s=$(min "$best_s" "$ts")
done

unzip -tq "$archive" >/dev/null
cmp "$archive" "$out/rewrite-before.zip"
echo "the rewritten archive passes unzip -t and is byte for byte the archive it was"
awk -v f="$best_f" -v c="$best_c" -v s="$best_s" 'BEGIN {
  printf "best of runs: folvio-zip -d %.3f s, cp %.3f s, cp+sync %.3f s\n", f, c, s
  printf "ratio folvio/cp = %.2f, folvio/(cp+sync) = %.2f\n", f / c, f / s }'
