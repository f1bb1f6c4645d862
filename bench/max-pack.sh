#!/usr/bin/env bash
# The maximum level against the other ZIP writers: packs the benchmark corpus with
# `folvio-zip --max`, `folvio-zip -9`, Info-ZIP `zip -9` and `7zz a -tzip -mx=9`, side by side in one
# run (in turn, page cache warm), each on one thread (7zz is given -mmt=1: folvio-zip compresses on
# one thread at a time). Prints per writer the compressed data of the corpus's regular files and its
# ratio to zip -9's, the best wall and CPU times of the runs and their ratio to 7zz's, and the peak
# resident memory; every archive is tested with unzip -t. Then the memory at the bound: a file of
# exactly 128 MiB (packed at the maximum level, in memory) and one a byte longer (level 9).
# Links are stored as links by zip (-y) and 7zz (-snl); folvio-zip leaves links to folders out.
# Goals: compressed data at most 0.955 of zip -9's and below 7zz's; time at most 0.35 of 7zz's;
# peak memory at the bound within twice the bound and a few MB.
# Usage: bench/max-pack.sh [RUNS]   (default 3; BENCH_SKIP_BOUND=1 skips the memory step)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-3}

source bench/common.sh
bench_build folvio-zip
corpus=$(bench_corpus)
out=$root/bench/out
mkdir -p "$out"
echo "corpus: $corpus, $(find "$corpus" -type f | wc -l) files, $(du -sm "$corpus" | cut -f1) MB"
find "$corpus" -type f -exec cat {} + >/dev/null  # warm the page cache for all

# run NAME COMMAND... : one timed run in the corpus's parent folder; prints "wall cpu peak-KB"
run() {
  local name=$1
  shift
  rm -f "$out/$name.zip"
  local status=0
  (cd "$(dirname "$corpus")" && /usr/bin/time -v "$@" >/dev/null 2>"$out/$name.time") || status=$?
  if [ "$status" -gt 1 ]; then  # 1: complete, some files left out or warned about (links)
    cat "$out/$name.time" >&2
    exit 1
  fi
  local wall user sys peak
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$out/$name.time" |
    awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
  user=$(sed -n 's/.*User time (seconds): //p' "$out/$name.time")
  sys=$(sed -n 's/.*System time (seconds): //p' "$out/$name.time")
  peak=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$out/$name.time")
  echo "$wall $(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }') $peak"
}

name=$(basename "$corpus")
writers=(max nine zip 7zz)
declare -A best_wall best_cpu peak
for w in "${writers[@]}"; do best_wall[$w]=999999 best_cpu[$w]=999999 peak[$w]=0; done
command_of() {
  case $1 in
    max) echo "$root/build/bin/folvio-zip --max -r -q $out/max.zip $name" ;;
    nine) echo "$root/build/bin/folvio-zip -9 -r -q $out/nine.zip $name" ;;
    zip) echo "zip -9 -r -y -q $out/zip.zip $name" ;;
    7zz) echo "7zz a -tzip -mx=9 -mmt=1 -snl $out/7zz.zip $name" ;;
  esac
}
for i in $(seq "$runs"); do
  # Each round starts with another writer, so that none always follows the same one.
  order=("${writers[@]:$(((i - 1) % 4))}" "${writers[@]:0:$(((i - 1) % 4))}")
  line="run $i:"
  for w in "${order[@]}"; do
    # shellcheck disable=SC2046
    read -r t c m < <(run "$w" $(command_of "$w"))
    line+=$(printf '  %s %.1f s (cpu %.1f s) %d KB' "$w" "$t" "$c" "$m")
    best_wall[$w]=$(min "${best_wall[$w]}" "$t")
    best_cpu[$w]=$(min "${best_cpu[$w]}" "$c")
    peak[$w]=$((m > peak[$w] ? m : peak[$w]))
  done
  echo "$line"
done

for w in "${writers[@]}"; do unzip -tq "$out/$w.zip" >/dev/null; done
echo "all four archives pass unzip -t"

# The compressed data of the corpus's regular files (links and folders left out) in each archive.
sizes=$(cd "$(dirname "$corpus")" && /usr/bin/python3 - "$name" "$out" <<'EOF'
import os, sys, zipfile
corpus, out = sys.argv[1], sys.argv[2]
files = set()
for folder, _, names in os.walk(corpus):
    for n in names:
        p = os.path.join(folder, n)
        if os.path.isfile(p) and not os.path.islink(p):
            files.add(p)
for w in ("max", "nine", "zip", "7zz"):
    entries = {i.filename: i.compress_size for i in zipfile.ZipFile(os.path.join(out, w + ".zip")).infolist()}
    missing = files - entries.keys()
    assert not missing, (w, sorted(missing)[:3])
    print(w, sum(entries[f] for f in files), len(files))
EOF
)
echo
printf '%-22s %14s %10s %10s %9s %11s %12s\n' writer "compressed" "/zip -9" "wall s" "cpu s" "cpu /7zz" "peak MB"
while read -r w bytes count; do
  zipbytes=$(awk '$1 == "zip" { print $2 }' <<<"$sizes")
  label=$(case $w in max) echo "folvio-zip --max" ;; nine) echo "folvio-zip -9" ;; zip) echo "zip -9" ;; 7zz) echo "7zz -tzip -mx=9 -mmt=1" ;; esac)
  awk -v l="$label" -v b="$bytes" -v z="$zipbytes" -v t="${best_wall[$w]}" -v c="${best_cpu[$w]}" \
      -v s="${best_cpu[7zz]}" -v m="${peak[$w]}" \
      'BEGIN { printf "%-22s %14d %10.4f %10.1f %9.1f %11.3f %12.1f\n", l, b, b / z, t, c, c / s, m / 1024 }'
done <<<"$sizes"
awk -v t="${best_wall[max]}" -v s="${best_wall[7zz]}" 'BEGIN { printf "wall time folvio-zip --max / 7zz: %.3f\n", t / s }'
echo "($(awk 'NR == 1 { print $3 }' <<<"$sizes") regular files; best of $runs runs each)"

if [ "${BENCH_SKIP_BOUND:-0}" != 1 ]; then
  # Corpus text repeated to exactly the bound, then one byte more: the largest file the maximum
  # level takes in memory, and the smallest it leaves to level 9.
  bound=$((128 << 20))
  big=$out/bound.txt
  : >"$big"
  while [ "$(stat -c %s "$big")" -lt "$bound" ]; do find "$corpus/include" -name '*.h' -exec cat {} + >>"$big"; done
  truncate -s "$bound" "$big"
  read -r t c m < <(run bound "$root/build/bin/folvio-zip" --max -q "$out/bound.zip" "$big")
  printf 'a file of %d bytes at the maximum level: %.1f s, peak %.1f MB, %d bytes packed\n' "$bound" "$t" "$(awk -v m="$m" 'BEGIN { print m / 1024 }')" \
    "$(stat -c %s "$out/bound.zip")"
  printf 'x' >>"$big"
  read -r t c m < <(run above "$root/build/bin/folvio-zip" --max -q "$out/above.zip" "$big")
  printf 'a file of %d bytes (level 9): %.1f s, peak %.1f MB, %d bytes packed\n' "$((bound + 1))" "$t" "$(awk -v m="$m" 'BEGIN { print m / 1024 }')" \
    "$(stat -c %s "$out/above.zip")"
  unzip -tq "$out/bound.zip" >/dev/null && unzip -tq "$out/above.zip" >/dev/null && echo "both pass unzip -t"
  rm -f "$big" "$out/bound.zip" "$out/above.zip"
fi
