#!/usr/bin/env bash
# Installs the Debian packages on a clean Debian (a debootstrap chroot) with apt, as a user
# would, and uses them there: folvio-zip packs, folvio starts offscreen, man shows the manual,
# and a program of somebody else's builds on the component library. Needs root and the network
# to the Debian mirror; not part of ./test.sh. Build the packages first (scripts/check-package.sh).
#   scripts/check-package-chroot.sh [BUILD] [SUITE]      (default build/ and bookworm)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
suite=${2:-bookworm}
source=$(pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)

root=$(mktemp -d /tmp/folvio-chroot.XXXXXX)
chmod 755 "$root"  # the chroot's own users (_apt, man) walk it
cleanup() {
  umount "$root/proc" 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT

echo "== debootstrap $suite into $root"
debootstrap --variant=minbase "$suite" "$root" http://deb.debian.org/debian >"$build/debootstrap.log" 2>&1
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"  # the programs find themselves through /proc/self/exe
mkdir -p "$root/tmp/debs" "$root/tmp/consumer"
cp "$build"/packages/*_"${version}"_"${arch}".deb "$root/tmp/debs/"
cp "$source"/tests/install/consumer/* "$root/tmp/consumer/"

chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root DEBIAN_FRONTEND=noninteractive \
  VERSION="$version" ARCH="$arch" /bin/bash -euo pipefail -c '
    trap "echo FAILED; tail -n 30 /tmp/apt.log" ERR
    apt-get update -q >/tmp/apt.log 2>&1
    echo "== apt install ./folvio_${VERSION}_${ARCH}.deb"
    apt-get install -y -q "/tmp/debs/folvio_${VERSION}_${ARCH}.deb" >>/tmp/apt.log 2>&1
    folvio-zip --version | head -n 1
    folvio --version | head -n 1
    mkdir -p /tmp/docs/sub && echo one >/tmp/docs/a.txt && echo two >/tmp/docs/sub/b.txt
    folvio-zip -q /tmp/docs.zip /tmp/docs && echo "folvio-zip packed /tmp/docs.zip"
    QT_QPA_PLATFORM=offscreen folvio --screenshot /tmp/shots 2>/dev/null | head -n 1
    status=0; folvio -autostartclose 2>/tmp/err || status=$?
    grep -q "Cannot open file /root/.config/marvane/folvio/data.mvo" /tmp/err && [ "$status" = 1 ] &&
      [ ! -e /usr/bin/data.mvo ] && echo "folvio keeps its list in ~/.config/marvane/folvio"
    apt-get install -y -q man-db >>/tmp/apt.log 2>&1
    man folvio-zip 2>/dev/null | grep -q "^NAME" && echo "man folvio-zip shows the manual"
    echo "== apt install the development and gallery packages, build a consumer"
    apt-get install -y -q "/tmp/debs/libmarvane-components-dev_${VERSION}_${ARCH}.deb" \
      "/tmp/debs/folvio-gallery_${VERSION}_${ARCH}.deb" >>/tmp/apt.log 2>&1
    apt-get install -y -q --no-install-recommends cmake g++ make >>/tmp/apt.log 2>&1
    cmake -S /tmp/consumer -B /tmp/consumer-build >/dev/null && cmake --build /tmp/consumer-build >/dev/null
    mkdir -p /tmp/registry
    MARVANE_REGISTRY_DIR=/tmp/registry QT_QPA_PLATFORM=offscreen /tmp/consumer-build/consumer 2>/dev/null
    QT_QPA_PLATFORM=offscreen folvio-gallery --progress /tmp/progress.png 2>/dev/null
  '
echo "== the packages install and work on a clean $suite"
