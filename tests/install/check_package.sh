#!/usr/bin/env bash
# check_package.sh BUILD_DIR VERSION WITH_QT
# Makes the Debian package with cpack and checks its name, its contents and that its
# dependencies were computed from the program (the C library, and Qt for a window build).
set -euo pipefail
build=$1 version=$2 with_qt=$3
fail() { echo "deb_package: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
arch=$(dpkg --print-architecture)
deb=$work/trawlex_${version}-1_${arch}.deb
[[ -f $deb ]] || fail "no $(basename "$deb") was made: $(ls "$work")"

[[ $(dpkg-deb -f "$deb" Package) == trawlex ]] || fail "the package is not named trawlex"
[[ $(dpkg-deb -f "$deb" Version) == "${version}-1" ]] || fail "the package version is not ${version}-1"
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libc6 (>= ' <<<"$depends" || fail "Depends has no versioned libc6 from the binary: $depends"
grep -q 'libstdc++6 (>= ' <<<"$depends" || fail "Depends has no versioned libstdc++6: $depends"
if [[ $with_qt == ON ]]; then
  for p in libqt6core6 libqt6widgets6 libqt6network6 qt6-qpa-plugins; do
    grep -q "$p" <<<"$depends" || fail "Depends lacks $p: $depends"
  done
fi

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/trawlex ./usr/share/man/man1/trawlex.1.gz ./usr/share/doc/trawlex/copyright \
         ./usr/share/doc/trawlex/changelog.Debian.gz; do
  grep -qx "$f" <<<"$contents" || fail "the package lacks $f"
done
if [[ $with_qt == ON ]]; then
  for f in ./usr/libexec/trawlex/trawlex-window ./usr/share/applications/trawlex.desktop \
           ./usr/share/icons/hicolor/48x48/apps/trawlex.png \
           ./usr/share/icons/hicolor/scalable/apps/trawlex.svg; do
    grep -qx "$f" <<<"$contents" || fail "the package lacks $f"
  done
fi
# The program in the package is stripped and runs.
dpkg-deb -x "$deb" "$work/root"
[[ $(env -u DISPLAY -u WAYLAND_DISPLAY "$work/root/usr/bin/trawlex" --version) == "Trawlex $version" ]] ||
  fail "the packaged program does not run"
echo "deb_package: $(basename "$deb") depends on: $depends"
