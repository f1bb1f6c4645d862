#!/usr/bin/env bash
# Cross-builds the Windows core with mingw-w64 and runs its tests under Wine in a fresh prefix
# (no display, WINEDEBUG=-all); then checks the Windows tools against readers nobody here wrote:
# archives folvio-zip.exe writes are tested by Linux unzip, 7-Zip and Python's zipfile, a value
# folvio-reg.exe writes is read by the system's own "reg query". Exits non-zero on any failure.
#   FOLVIO_WINDOWS_BUILD  the build folder (default build-win)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${FOLVIO_WINDOWS_BUILD:-build-win}
jobs=$(nproc 2>/dev/null || echo 2)
started=$(date +%s)

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DFOLVIO_WERROR=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$jobs" >"$build/build.log" 2>&1 || { tail -n 40 "$build/build.log"; exit 1; }
built=$(date +%s)

work=$(mktemp -d)
wine=/usr/lib/wine/wine64
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  WINEPREFIX="$work/prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
"$wine" wineboot --init >/dev/null 2>&1
/usr/lib/wine/wineserver -w

# One at a time: the tests share the prefix's registry. A program that Wine fails to start (seen
# once: no output at all) gets a second start.
ctest --test-dir "$build" --output-on-failure --repeat until-pass:2

# The tools as a user runs them, their results read on Linux.
bin="$root/$build/bin"
locales="$root/$build/locales"
mkdir -p "$locales"
[ -d "$locales/de_DE.UTF-8" ] || localedef -i de_DE -f UTF-8 "$locales/de_DE.UTF-8"
mkdir -p "$work/data/sub" "$work/out"
printf 'plain\n' >"$work/data/notes.txt"
printf 'caf\n' >"$work/data/café.txt"
printf 'stue\n' >"$work/data/Ølstue.txt"
printf 'nihon\n' >"$work/data/日本.txt"
head -c 300000 "$root/zip/deflate.cpp" >"$work/data/sub/source.cpp"
cd "$work"
expected=$'notes.txt\ncafé.txt\nØlstue.txt\n日本.txt\nsub/source.cpp'
for page in 437 850; do
  locale=C.UTF-8
  [ "$page" = 850 ] && locale=de_DE.UTF-8
  archive="out/grüße-$page.zip"  # a name outside the ANSI page: the arguments arrive as UTF-8
  (cd data && LOCPATH="$locales" LC_ALL=$locale "$wine" "$bin/folvio-zip.exe" -r -9 -q "../$archive" .) ||
    { echo "folvio-zip.exe failed under code page $page" >&2; exit 1; }
  unzip -tq "$archive" >/dev/null || { unzip -t "$archive"; exit 1; }
  7zz t "$archive" >/dev/null || { 7zz t "$archive"; exit 1; }
  # Names without the UTF-8 flag are in the writer's OEM page, which a reader has to be told.
  names=$(python3 - "$archive" "cp$page" <<'EOF'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], metadata_encoding=sys.argv[2]) as z:
    print("\n".join(sorted(i.filename for i in z.infolist() if not i.is_dir())))
EOF
)
  if [ "$names" != "$(sort <<<"$expected")" ]; then
    echo "names in $archive under code page $page:" >&2; echo "$names" >&2; exit 1
  fi
  if [ "$page" = 437 ]; then
    # unzip shows a name without the flag in ISO 8859-1 (its CP437 table), one with it in UTF-8.
    listed=$(LC_ALL=C.UTF-8 unzip -l "$archive" | python3 -c '
import sys
for line in sys.stdin.buffer.read().split(b"\n")[3:-3]:
    name = line[30:]
    try: name = name.decode("utf-8")
    except UnicodeDecodeError: name = name.decode("latin-1")
    if not name.endswith("/"): print(name)' | sort)
    if [ "$listed" != "$(sort <<<"$expected")" ]; then
      echo "unzip -l lists other names in $archive:" >&2; echo "$listed" >&2; exit 1
    fi
  fi
done

# The maximum level (our level 9 here, without libdeflate) gives an archive every reader takes;
# -T has the program's own reader test it before it takes its place.
(cd data && "$wine" "$bin/folvio-zip.exe" --max -T -r -q ../out/max.zip .) || { echo "folvio-zip.exe --max -T failed" >&2; exit 1; }
unzip -tq out/max.zip >/dev/null || { unzip -t out/max.zip; exit 1; }
7zz t out/max.zip >/dev/null || { 7zz t out/max.zip; exit 1; }
# An update replaces the archive while its lock keeps it open.
printf 'added\n' >data/added.txt
(cd data && "$wine" "$bin/folvio-zip.exe" -T -r -q ../out/max.zip .) || { echo "folvio-zip.exe could not update out/max.zip" >&2; exit 1; }
unzip -l out/max.zip | grep -q ' added.txt$' || { echo "the update of out/max.zip lacks added.txt" >&2; exit 1; }
unzip -tq out/max.zip >/dev/null || { unzip -t out/max.zip; exit 1; }
rm data/added.txt

# AES-256 entries through the system's CNG, read back by 7-Zip with the password (and refused without).
(cd data && "$wine" "$bin/folvio-zip.exe" --aes -P 'Secret 1' -r -q ../out/aes.zip .) ||
  { echo "folvio-zip.exe --aes failed" >&2; exit 1; }
7zz t -p'Secret 1' out/aes.zip >/dev/null || { 7zz t -p'Secret 1' out/aes.zip; exit 1; }
if 7zz t -pwrong out/aes.zip >/dev/null 2>&1; then echo "7-Zip took a wrong password for out/aes.zip" >&2; exit 1; fi

key='HKCU\Software\Marvane\WindowsCheck'
"$wine" "$bin/folvio-reg.exe" add "$key" /v Greeting /t REG_SZ /d 'Grüße' /f >/dev/null
"$wine" reg query "$key" /v greeting | iconv -f CP437 -t UTF-8 | grep -q 'REG_SZ *Grüße' ||
  { echo "reg query does not read the value folvio-reg.exe wrote" >&2; "$wine" reg query "$key"; exit 1; }

echo "Windows core: built in $((built - started)) s, checked in $(($(date +%s) - built)) s"
