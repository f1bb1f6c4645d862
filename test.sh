#!/usr/bin/env bash
# Builds everything and runs every test: the Release build with all tests, the Qt-free core
# under AddressSanitizer and UndefinedBehaviorSanitizer, its threaded tests under ThreadSanitizer,
# the Windows core under Wine, and each fuzz
# target for a bounded time.
# Exits non-zero when anything fails.
#   FOLVIO_FUZZ_SECONDS  seconds per fuzz target (default 30; 0 skips fuzzing)
#   FOLVIO_SKIP_SANITIZE=1 skips the sanitizer build (local iteration only; CI runs it)
#   FOLVIO_SKIP_TSAN=1   skips the ThreadSanitizer build (local iteration only; CI runs it)
#   FOLVIO_SKIP_WINDOWS=1 skips the Windows core under Wine (local iteration only; CI runs it)
#   FOLVIO_PACKAGE_CHECK=1 also builds the Debian packages and runs lintian on them (about a minute)
#   FOLVIO_BIG_TESTS=1   also runs the tests of the label "big" (files of 4 GiB and more; about half
#                        an hour on two cores) when the temporary folder has 24 GiB free
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)

scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=offscreen
export FOLVIO_NO_SHUTDOWN=1

echo "== Release build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DFOLVIO_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs" -LE big

if [ "${FOLVIO_BIG_TESTS:-0}" = 1 ]; then
  tmp=${TMPDIR:-/tmp}
  free_kib=$(df -Pk "$tmp" | awk 'NR == 2 { print $4 }')
  if [ "$free_kib" -ge $((24 * 1024 * 1024)) ]; then
    echo "== Tests with files of 4 GiB and more (label big)"
    ctest --test-dir build --output-on-failure -L big
  else
    echo "== Tests of the label big left out: $tmp has less than 24 GiB free"
  fi
fi

if [ "${FOLVIO_PACKAGE_CHECK:-0}" = 1 ]; then
  echo "== Debian packages and lintian"
  scripts/check-package.sh build
fi

if [ "${FOLVIO_SKIP_SANITIZE:-0}" != 1 ]; then
  echo "== Core tests under AddressSanitizer and UndefinedBehaviorSanitizer"
  cmake -S . -B build-san -DCMAKE_BUILD_TYPE=Debug -DFOLVIO_CORE_ONLY=ON -DFOLVIO_SANITIZE=ON >/dev/null
  cmake --build build-san -j"$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-san --output-on-failure -j"$jobs" -L core
fi

if [ "${FOLVIO_SKIP_TSAN:-0}" != 1 ]; then
  echo "== Threaded core tests under ThreadSanitizer"
  cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFOLVIO_CORE_ONLY=ON -DFOLVIO_TSAN=ON >/dev/null
  # The tests of the label "threads" only: the rest of the core has no threads of its own.
  cmake --build build-tsan -j"$jobs" --target zip_zipparallel_test zip_aescipher_test
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --test-dir build-tsan --output-on-failure -j"$jobs" -L threads
fi

if [ "${FOLVIO_SKIP_WINDOWS:-0}" != 1 ]; then
  echo "== The Windows core, cross-built with mingw-w64, its tests under Wine"
  scripts/check-windows.sh
fi

fuzz_seconds=${FOLVIO_FUZZ_SECONDS:-30}
if [ "$fuzz_seconds" != 0 ]; then
  echo "== Fuzz targets, ${fuzz_seconds}s each"
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFOLVIO_FUZZ=ON >/dev/null
  cmake --build build-fuzz -j"$jobs"
  mkdir -p build-fuzz/artifacts
  while read -r target; do
    [ -n "$target" ] || continue
    corpus=$(mktemp -d)
    if [ -d "tests/data/fuzz/$target" ]; then cp -r "tests/data/fuzz/$target/." "$corpus/"; fi
    echo "-- $target"
    if ! "build-fuzz/bin/$target" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 \
         -artifact_prefix="$root/build-fuzz/artifacts/$target-" -print_final_stats=0 "$corpus" \
         >"build-fuzz/$target.log" 2>&1; then
      tail -n 60 "build-fuzz/$target.log"
      echo "fuzz target $target found a fault; the input is under build-fuzz/artifacts/" >&2
      rm -rf "$corpus"
      exit 1
    fi
    rm -rf "$corpus"
  done < build-fuzz/fuzz-targets.txt
fi

echo "== All tests passed"
