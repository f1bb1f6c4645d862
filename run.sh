#!/usr/bin/env bash
# Builds the Release program into build/ and starts it with the given arguments.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)"
if [ -x build/bin/folvio ]; then
  exec build/bin/folvio "$@"
fi
exec build/bin/folvio-zip "$@"
