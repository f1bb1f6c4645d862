#!/usr/bin/env bash
# The cost of AES-256 against the traditional cipher: packs the benchmark corpus at level 9 with
# `folvio-zip -9 --aes -P` and `folvio-zip -9 -P`, side by side in one run (in turn, page cache
# warm). Prints per cipher the best wall and CPU times of the runs and the archive size, and the
# ratio AES / traditional; the AES archive is tested with 7zz t, the traditional one with unzip -t.
# Goal: AES-256 takes at most 1.05 times the time of the traditional cipher.
# Usage: bench/aes.sh [RUNS] [PART]   (default 5 runs of the whole corpus; PART: include or lib alone)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-5}
part=${2:-}
password='bench pass phrase'

source bench/common.sh
bench_build folvio-zip
corpus=$(bench_corpus)
out=$root/bench/out
mkdir -p "$out"
packed=$(basename "$corpus")${part:+/$part}
echo "packed: $packed, $(find "$corpus/$part" -type f | wc -l) files, $(du -sm "$corpus/$part" | cut -f1) MB"
find "$corpus/$part" -type f -exec cat {} + >/dev/null  # warm the page cache for all

# run NAME OPTION... : one timed run of folvio-zip -9 -P in the corpus's parent folder; prints "wall cpu"
run() {
  local name=$1
  shift
  rm -f "$out/$name.zip"
  local status=0
  (cd "$(dirname "$corpus")" &&
    /usr/bin/time -v "$root/build/bin/folvio-zip" -9 -r -q -P "$password" "$@" "$out/$name.zip" "$packed" \
      >/dev/null 2>"$out/$name.time") || status=$?
  if [ "$status" -gt 1 ]; then  # 1: complete, some files left out (links to folders)
    cat "$out/$name.time" >&2
    exit 1
  fi
  local wall user sys
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$out/$name.time" |
    awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
  user=$(sed -n 's/.*User time (seconds): //p' "$out/$name.time")
  sys=$(sed -n 's/.*System time (seconds): //p' "$out/$name.time")
  echo "$wall $(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')"
}

declare -A best_wall best_cpu
for c in aes zip; do best_wall[$c]=999999 best_cpu[$c]=999999; done
for i in $(seq "$runs"); do
  # Each round starts with the other cipher, so that neither always runs second.
  if [ $((i % 2)) -eq 1 ]; then order=(aes zip); else order=(zip aes); fi
  line="run $i:"
  for c in "${order[@]}"; do
    if [ "$c" = aes ]; then read -r t u < <(run aes --aes); else read -r t u < <(run zip); fi
    line+=$(printf '  %s %.2f s (cpu %.2f s)' "$c" "$t" "$u")
    best_wall[$c]=$(min "${best_wall[$c]}" "$t")
    best_cpu[$c]=$(min "${best_cpu[$c]}" "$u")
  done
  echo "$line"
done

7zz t -p"$password" "$out/aes.zip" | grep -q "Everything is Ok"
unzip -tq -P "$password" "$out/zip.zip" >/dev/null
echo "the AES archive passes 7zz t, the traditional one unzip -t"

echo
printf '%-28s %10s %9s %14s\n' cipher "wall s" "cpu s" "archive bytes"
for c in aes zip; do
  label=$([ "$c" = aes ] && echo "AES-256 (--aes)" || echo "traditional ZIP cipher")
  printf '%-28s %10.2f %9.2f %14d\n' "$label" "${best_wall[$c]}" "${best_cpu[$c]}" "$(stat -c %s "$out/$c.zip")"
done
awk -v a="${best_wall[aes]}" -v z="${best_wall[zip]}" -v ac="${best_cpu[aes]}" -v zc="${best_cpu[zip]}" \
  'BEGIN { printf "AES / traditional: wall %.3f, cpu %.3f (goal: at most 1.05)\n", a / z, ac / zc }'
echo "(best of $runs runs each, level 9)"
