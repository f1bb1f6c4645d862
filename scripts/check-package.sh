#!/usr/bin/env bash
# Builds the Debian packages from a configured build folder (CPack: `cmake --build BUILD --target
# package`) and checks them: the three packages are there, dpkg-shlibdeps found the runtime
# libraries, and lintian reports no error.
#   scripts/check-package.sh [BUILD]      (default build/, the Release build of ./test.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)

rm -f "$build"/packages/*.deb
if ! cmake --build "$build" --target package >"$build/package.log" 2>&1; then
  tail -n 40 "$build/package.log" >&2
  echo "check-package: cpack failed (log: $build/package.log)" >&2
  exit 1
fi

status=0
for package in folvio libmarvane-components-dev folvio-gallery; do
  deb=$build/packages/${package}_${version}_${arch}.deb
  if [ ! -f "$deb" ]; then
    echo "check-package: no $deb" >&2
    status=1
  fi
done
folvio=$build/packages/folvio_${version}_${arch}.deb
if [ -f "$folvio" ]; then
  depends=$(dpkg-deb -f "$folvio" Depends)
  for library in libqt6widgets6 libqt6dbus6 libsqlite3-0 libstdc++6; do
    grep -q "$library" <<<"$depends" || { echo "check-package: folvio does not depend on $library: $depends" >&2; status=1; }
  done
  for file in ./usr/bin/folvio ./usr/bin/folvio-zip ./usr/share/applications/org.marvane.Folvio.desktop \
              ./usr/share/man/man1/folvio-zip.1.gz ./usr/lib/systemd/user/folvio-backup.timer; do
    dpkg-deb -c "$folvio" | awk '{print $6}' | grep -qxF "$file" || { echo "check-package: folvio lacks $file" >&2; status=1; }
  done
fi

lintian_status=0
lintian --fail-on error --tag-display-limit 0 "$build"/packages/*.deb >"$build/lintian.log" 2>&1 || lintian_status=$?
grep -v "running with root privileges" "$build/lintian.log" || true
if [ "$lintian_status" != 0 ]; then
  echo "check-package: lintian reports errors" >&2
  status=1
fi
[ "$status" = 0 ] && echo "packages checked: $(cd "$build/packages" && ls ./*.deb | tr '\n' ' ')"
exit "$status"
