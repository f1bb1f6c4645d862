#!/usr/bin/env bash
# The backup run: times the program itself, started as a scheduler starts it (no display, so the
# offscreen platform; -autostartclose; the corpus as the one listed folder; a private registry and
# program folder), against `folvio-zip -9 -T --root CORPUS` on the same folder, side by side in one
# run (alternating, page cache warm). Both write the same entries at level 9, with the same
# threads (all cores), and test the archive after writing it. The program's time
# includes its start-up and the half second the auto-start waits by design; the ratio is printed
# with and without that half second. Both archives are tested afterwards.
# Usage: bench/run-pack.sh [RUNS]   (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-5}

source bench/common.sh
bench_build folvio folvio-zip folvio-reg
corpus=$(bench_corpus)
out=$root/bench/out/run
rm -rf "$out"
mkdir -p "$out/dest" "$out/program" "$out/registry" "$out/config" "$out/home"
printf '%s/\r\n' "$corpus" >"$out/program/data.mvo"
MARVANE_REGISTRY_DIR=$out/registry build/bin/folvio-reg add 'HKCU\Software\Marvane\Folvio' /v DestDir /d "$out/dest/" /f >/dev/null
echo "corpus: $corpus, $(find "$corpus" -type f | wc -l) files, $(du -sm "$corpus" | cut -f1) MB"
find "$corpus" -type f -exec cat {} + >/dev/null  # warm the page cache for both

# run NAME COMMAND... : one timed run after removing the archives of the last; prints "seconds peak-KB"
run() {
  local name=$1
  shift
  if [ "$name" = program ]; then rm -f "$out/dest/"*.zip; else rm -f "$out/peer.zip"; fi
  local status=0
  /usr/bin/time -f '%e %M' -o "$out/$name.time" "$@" >"$out/$name.log" 2>&1 || status=$?
  if [ "$status" -gt 1 ]; then
    cat "$out/$name.log" >&2
    exit 1
  fi
  tail -n 1 "$out/$name.time"  # after the line time adds for an exit status of 1 (files left out)
}

program=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM MARVANE_REGISTRY_DIR="$out/registry"
  MARVANE_PROGRAM_DIR="$out/program" XDG_CONFIG_HOME="$out/config" HOME="$out/home" FOLVIO_NO_SHUTDOWN=1
  "$root/build/bin/folvio" -autostartclose)
# The program tests each archive after writing it (Verify Archives After Writing, on by default): the peer too.
peer=("$root/build/bin/folvio-zip" -9 -T -q --root "$corpus" "$out/peer.zip" "$corpus")

best_p=999999 best_z=999999 peak_p=0 peak_z=0
for i in $(seq "$runs"); do
  # Alternate who goes first so that neither always profits from the other's cache work.
  if [ $((i % 2)) = 1 ]; then
    read -r tp mp < <(run program "${program[@]}")
    read -r tz mz < <(run peer "${peer[@]}")
  else
    read -r tz mz < <(run peer "${peer[@]}")
    read -r tp mp < <(run program "${program[@]}")
  fi
  printf 'run %d: folvio -autostartclose %6.2f s %6d KB   folvio-zip -9 %6.2f s %6d KB\n' "$i" "$tp" "$mp" "$tz" "$mz"
  best_p=$(min "$best_p" "$tp")
  best_z=$(min "$best_z" "$tz")
  peak_p=$((mp > peak_p ? mp : peak_p))
  peak_z=$((mz > peak_z ? mz : peak_z))
done

archive=$out/dest/$(basename "$corpus").zip
unzip -tq "$archive" >/dev/null
unzip -tq "$out/peer.zip" >/dev/null
echo "archives: program $(stat -c %s "$archive") bytes, folvio-zip $(stat -c %s "$out/peer.zip") bytes (both pass unzip -t)"
awk -v p="$best_p" -v z="$best_z" -v mp="$peak_p" -v mz="$peak_z" 'BEGIN {
  printf "best of runs: program %.2f s, folvio-zip %.2f s, ratio %.3f; without the 0.5 s auto-start wait %.3f\n", p, z, p / z, (p - 0.5) / z
  printf "peak memory: program %.1f MB, folvio-zip %.1f MB\n", mp / 1024, mz / 1024 }'
