#!/usr/bin/env bash
# Builds the benchmark corpus from files already on the machine: /usr/include (text, many small
# files) plus a few dozen shared libraries (binary, larger files). About 170 MB in 9,000+ files.
# Usage: bench/make-corpus.sh [DIR]   (default bench/corpus; kept when it exists)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-bench/corpus}
if [ -d "$dir" ] && [ -n "$(ls -A "$dir" 2>/dev/null)" ]; then
  echo "$dir"
  exit 0
fi
mkdir -p "$dir/include" "$dir/lib"
cp -a /usr/include/. "$dir/include/"
# Shared libraries of 200 KB to 4 MB, in name order: the same set on machines with the same packages.
find /usr/lib/x86_64-linux-gnu -maxdepth 1 -name 'lib*.so.*' -type f -size +200k -size -4M \
  | LC_ALL=C sort | head -n 40 | while read -r f; do cp "$f" "$dir/lib/"; done
echo "$dir"
echo "corpus: $(find "$dir" -type f | wc -l) files, $(du -sm "$dir" | cut -f1) MB" >&2
