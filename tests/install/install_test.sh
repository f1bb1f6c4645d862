#!/usr/bin/env bash
# The installed tree, used as a user's machine would use it: `cmake --install` into a temporary
# DESTDIR (the package's prefix /usr), then every file is there, every program answers --help
# and --version, folvio-zip packs, folvio starts offscreen and keeps its list per user, the
# desktop entry, the metainfo, the manuals and the systemd units pass their validators, the
# completions complete, and a program of somebody else's builds on the component library.
#   install_test.sh BUILD_DIR SOURCE_DIR VERSION
set -uo pipefail
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd) version=$3
app_id=org.marvane.Folvio

stage=$build/install-test
rm -rf "$stage"
mkdir -p "$stage"/{root,home,config,registry,runtime,work}
chmod 700 "$stage/runtime"
root=$stage/root
usr=$root/usr
# Nothing of the user's: private home, settings, registry; no display.
export HOME=$stage/home XDG_CONFIG_HOME=$stage/config MARVANE_REGISTRY_DIR=$stage/registry
export XDG_RUNTIME_DIR=$stage/runtime QT_QPA_PLATFORM=offscreen FOLVIO_NO_SHUTDOWN=1 LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY MARVANE_PROGRAM_DIR

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
step() { echo "-- [${SECONDS}s] $*"; }

step "cmake --install into $root (prefix /usr), the gallery as its own component"
for component in "" Gallery; do
  if ! DESTDIR=$root cmake --install "$build" --prefix /usr ${component:+--component "$component"} >"$stage/install.log" 2>&1; then
    cat "$stage/install.log" >&2
    echo "FAIL: cmake --install ${component:-(default components)}" >&2
    exit 1
  fi
done

step "every file is installed"
expected=(
  bin/folvio bin/folvio-zip bin/folvio-reg bin/folvio-unzip bin/folvio-gallery
  share/applications/$app_id.desktop
  share/metainfo/$app_id.metainfo.xml
  share/icons/hicolor/scalable/apps/$app_id.svg
  share/man/man1/folvio.1.gz share/man/man1/folvio-zip.1.gz share/man/man1/folvio-reg.1.gz
  share/man/man1/folvio-unzip.1.gz share/man/man1/folvio-gallery.1.gz
  share/bash-completion/completions/folvio-zip share/bash-completion/completions/folvio-reg
  share/bash-completion/completions/folvio-unzip
  lib/systemd/user/folvio-backup.service lib/systemd/user/folvio-backup.timer
  share/doc/folvio/README.md share/doc/folvio/copyright share/doc/folvio/changelog.gz
  share/doc/libmarvane-components-dev/copyright share/doc/libmarvane-components-dev/changelog.gz
  share/doc/folvio-gallery/copyright share/doc/folvio-gallery/changelog.gz
  lib/cmake/MarvaneComponents/MarvaneComponentsConfig.cmake
  lib/cmake/MarvaneComponents/MarvaneComponentsConfigVersion.cmake
  lib/cmake/MarvaneComponents/MarvaneComponentsTargets.cmake
  lib/libfolvio_components.a lib/libfolvio_components_qt.a lib/libfolvio_controls.a
  include/marvane/components/kwparser.h include/marvane/components/kwdigianz.h
  include/marvane/controls/gradientprogressbar.h include/marvane/platform/registry.h
)
sizes=(16 22 24 32 48 64 128 256)
for size in "${sizes[@]}"; do expected+=("share/icons/hicolor/${size}x${size}/apps/$app_id.png"); done
for file in "${expected[@]}"; do
  [ -f "$usr/$file" ] || fail "not installed: /usr/$file"
done
plugin=$(find "$usr/lib" -path '*/qt6/plugins/designer/libfolvio_designer_plugin.so' | head -n 1)
[ -n "$plugin" ] || fail "the Designer plugin is not in Qt's plugin folder below /usr/lib"
# Nothing else lands outside the headers and libraries, and nothing is left in bin that a program wrote.
while IFS= read -r file; do
  case $file in
    include/marvane/*.h | lib/*.a | lib/cmake/MarvaneComponents/*.cmake | lib/*/qt6/plugins/designer/*.so) ;;
    *) printf '%s\n' "${expected[@]}" | grep -qxF "$file" || fail "installed but not expected: /usr/$file" ;;
  esac
done < <(cd "$usr" && find . -type f | sed 's|^\./||' | sort)
for program in folvio folvio-zip folvio-reg folvio-unzip folvio-gallery; do
  if grep -qF "$source" "$usr/bin/$program" || grep -qF "$build" "$usr/bin/$program"; then
    fail "$program has a path of the build tree compiled in"
  fi
done

step "the icons are the size their folder says"
for size in "${sizes[@]}"; do
  png=$usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png
  [ -f "$png" ] || continue
  read -r width height < <(od -An -tu1 -j16 -N8 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
  [ "$width x $height" = "$size x $size" ] || fail "$png is ${width}x${height}"
done

step "one application id everywhere"
desktop=$usr/share/applications/$app_id.desktop
metainfo=$usr/share/metainfo/$app_id.metainfo.xml
grep -qx "Icon=$app_id" "$desktop" || fail "the desktop entry's icon is not $app_id"
grep -qx "Exec=folvio" "$desktop" || fail "the desktop entry does not start folvio"
grep -qx "Categories=Utility;Archiving;" "$desktop" || fail "the desktop entry's categories"
grep -q "<id>$app_id</id>" "$metainfo" || fail "the metainfo's id is not $app_id"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" || fail "the metainfo's launchable"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo names no release $version"
zcat "$usr/share/doc/folvio/changelog.gz" | head -n 1 | grep -qF "folvio ($version)" || fail "the change log does not begin with $version"

step "desktop-file-validate, appstreamcli validate"
desktop-file-validate "$desktop" || fail "desktop-file-validate $desktop"
appstreamcli validate --no-net --strict "$metainfo" >"$stage/appstream.log" 2>&1 || { cat "$stage/appstream.log" >&2; fail "appstreamcli validate"; }
appstreamcli validate-tree --no-net "$root" >"$stage/appstream-tree.log" 2>&1 || { cat "$stage/appstream-tree.log" >&2; fail "appstreamcli validate-tree"; }

step "--help and --version on every program (exit 0, stdout, GNU form)"
for program in folvio folvio-zip folvio-reg folvio-unzip folvio-gallery; do
  options=(--help --version)
  for option in "${options[@]}"; do
    "$usr/bin/$program" "$option" >"$stage/out" 2>"$stage/err"
    status=$?
    if [ "$status" != 0 ]; then
      fail "$program $option exits $status"
      continue
    fi
    [ -s "$stage/out" ] || fail "$program $option writes nothing to stdout"
    grep -v '^QStandardPaths:' "$stage/err" | grep -q . && fail "$program $option writes to stderr: $(head -c 200 "$stage/err")"
    if [ "$option" = --version ]; then
      case $program in
        folvio-gallery) grep -qx "folvio-gallery $version" "$stage/out" || fail "$program --version: $(head -n 1 "$stage/out")" ;;
        *) head -n 1 "$stage/out" | grep -qx "$program (Marvane Folvio) $version" || fail "$program --version: $(head -n 1 "$stage/out")" ;;
      esac
    else
      grep -qi "usage" "$stage/out" || fail "$program --help shows no usage"
    fi
  done
done

step "the installed folvio-zip packs, and Info-ZIP reads what it packed"
work=$stage/work
mkdir -p "$work/docs/sub"
echo "first" >"$work/docs/a.txt"
head -c 100000 /dev/urandom >"$work/docs/sub/b.bin"
if "$usr/bin/folvio-zip" -q -9 --root "$work/docs" "$work/docs.zip" "$work/docs"; then
  unzip -tq "$work/docs.zip" >/dev/null || fail "unzip -t rejects the installed folvio-zip's archive"
  [ "$(unzip -Z1 "$work/docs.zip" | sort | tr '\n' ' ')" = "a.txt sub/ sub/b.bin " ] || fail "the archive holds $(unzip -Z1 "$work/docs.zip" | tr '\n' ' ')"
else
  fail "the installed folvio-zip could not pack"
fi

step "the installed folvio-unzip tests the archive and restores the folder byte for byte"
if "$usr/bin/folvio-unzip" -tq "$work/docs.zip" && "$usr/bin/folvio-unzip" -q -d "$work/restored" "$work/docs.zip"; then
  diff -r "$work/docs" "$work/restored" >/dev/null || fail "folvio-unzip restored another folder"
else
  fail "the installed folvio-unzip could not test or extract"
fi

step "the installed folvio starts offscreen: --screenshot, and a run that keeps its list per user"
if "$usr/bin/folvio" --screenshot "$work/shots" >"$stage/out" 2>"$stage/err"; then
  for shot in form1 form2 form3; do
    [ -s "$work/shots/$shot.png" ] || fail "folvio --screenshot wrote no $shot.png"
  done
else
  fail "the installed folvio --screenshot: $(cat "$stage/err")"
fi
# No list yet: the run names the file it looked for, which is the per-user one even though root
# could write into the bin folder, and writes nothing there.
"$usr/bin/folvio" -autostartclose >"$stage/out" 2>"$stage/err"
status=$?
[ "$status" = 1 ] || fail "folvio -autostartclose without a list exits $status, not 1"
grep -qF "Cannot open file $XDG_CONFIG_HOME/marvane/folvio/data.mvo" "$stage/err" ||
  fail "folvio looks for its list elsewhere: $(head -c 300 "$stage/err")"
[ ! -e "$usr/bin/data.mvo" ] || fail "folvio wrote data.mvo beside its binary"
mkdir -p "$XDG_CONFIG_HOME/marvane/folvio" "$work/backups"
printf '%s/\r\n' "$work/docs" >"$XDG_CONFIG_HOME/marvane/folvio/data.mvo"
"$usr/bin/folvio-reg" add 'HKCU\Software\Marvane\Folvio' /v DestDir /d "$work/backups/" /f >/dev/null
if "$usr/bin/folvio" -autostartclose >"$stage/out" 2>"$stage/err"; then
  unzip -tq "$work/backups/docs.zip" >/dev/null || fail "the installed folvio's backup does not test clean"
else
  fail "the installed folvio's unattended run: $(head -c 300 "$stage/err")"
fi

step "man --warnings finds nothing to warn about, and man shows each page"
for page in "$usr"/share/man/man1/*.1.gz; do
  warnings=$(man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man --warnings $(basename "$page"): $warnings"
done
MANWIDTH=200 man -M "$usr/share/man" folvio-zip 2>/dev/null | grep -qE "^ +folvio-zip +- +pack +files +into +a +ZIP +archive" ||
  fail "man folvio-zip does not show the manual"
MANWIDTH=200 man -M "$usr/share/man" folvio-unzip 2>/dev/null | grep -qE "^ +folvio-unzip +- +list, +test +and +extract" ||
  fail "man folvio-unzip does not show the manual"

step "systemd-analyze verify on the user units"
if command -v systemd-analyze >/dev/null; then
  units=$stage/units
  mkdir -p "$units"
  # The units name /usr/bin/folvio; verify them against the staged copy.
  sed "s|^ExecStart=/usr/|ExecStart=$usr/|" "$usr/lib/systemd/user/folvio-backup.service" >"$units/folvio-backup.service"
  cp "$usr/lib/systemd/user/folvio-backup.timer" "$units/"
  grep -q "^ExecStart=$usr/bin/folvio -autostartclose$" "$units/folvio-backup.service" || fail "the service does not start /usr/bin/folvio -autostartclose"
  grep -qx "Persistent=true" "$units/folvio-backup.timer" || fail "the timer is not persistent"
  if ! MANPATH=$usr/share/man systemd-analyze --user verify "$units/folvio-backup.service" "$units/folvio-backup.timer" >"$stage/verify.log" 2>&1; then
    cat "$stage/verify.log" >&2
    fail "systemd-analyze verify"
  fi
else
  echo "   (no systemd-analyze here: skipped)"
fi

step "the completions complete"
if [ -f /usr/share/bash-completion/bash_completion ]; then
  touch "$work/old.zip"
  completions=$(cd "$work" && bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1/folvio-zip"; source "$1/folvio-reg"; source "$1/folvio-unzip"
    complete_words() {
      COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
      COMPREPLY=()
      local function=$(complete -p "$1" | sed "s/.*-F \([^ ]*\) .*/\1/")
      "$function" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}" 2>/dev/null
      printf "%s " "$*:" "${COMPREPLY[@]}"; echo
    }
    complete_words folvio-zip --re
    complete_words folvio-zip -9 o
    complete_words folvio-reg ex
    complete_words folvio-unzip -d x o
    complete_words folvio-unzip --ver
    complete_words folvio-reg add "HKCU\\\\Software\\\\Ma"
    complete_words folvio-reg add x /t reg_b
  ' _ "$usr/share/bash-completion/completions")
  for want in "folvio-zip --re: --replace " "folvio-zip -9 o: old.zip " "folvio-reg ex: export " \
              "folvio-unzip -d x o: old.zip " "folvio-unzip --ver: --version " \
              'Ma: HKCU\\Software\\Marvane\\Folvio ' "reg_b: REG_BINARY "; do
    grep -qF -- "$want" <<<"$completions" || fail "completion: no line with '$want' in: $completions"
  done
else
  echo "   (no bash-completion here: skipped)"
fi

step "a program of somebody else's builds on the installed component library"
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
consumer=$stage/consumer
if cmake -S "$source/tests/install/consumer" -B "$consumer" -DCMAKE_PREFIX_PATH="$usr" -DCMAKE_BUILD_TYPE=Release \
     "${launcher[@]}" >"$stage/consumer.log" 2>&1 &&
   cmake --build "$consumer" >>"$stage/consumer.log" 2>&1; then
  "$consumer/consumer" >"$stage/out" 2>"$stage/err"
  [ "$(cat "$stage/out")" = $'parser: 14\nscrambler: round trip\nsettings: hello\nwidgets: drawn' ] ||
    fail "the consumer printed: $(cat "$stage/out" "$stage/err")"
else
  tail -n 30 "$stage/consumer.log" >&2
  fail "the consumer project does not build on the installed library"
fi

if [ "$failures" != 0 ]; then
  echo "$failures install check(s) failed" >&2
  exit 1
fi
rm -rf "$stage"
echo "install checks passed"
