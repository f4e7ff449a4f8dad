#!/usr/bin/env bash
# check_install.sh BUILD_DIR VERSION WITH_QT
# Installs the built program into a fresh prefix and checks that exactly the expected files land
# in their standard places, that they are what they claim (icon sizes, a valid desktop entry, a
# manual page that names every option of --help) and that the installed program runs.
set -euo pipefail
build=$1 version=$2 with_qt=$3
fail() { echo "install_layout: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

expected=(bin/trawlex share/man/man1/trawlex.1.gz share/doc/trawlex/copyright share/doc/trawlex/changelog.Debian.gz
          share/lintian/overrides/trawlex)
sizes=(16 22 24 32 48 64 128 256)
if [[ $with_qt == ON ]]; then
  expected+=(libexec/trawlex/trawlex-window share/applications/trawlex.desktop share/icons/hicolor/scalable/apps/trawlex.svg)
  for s in "${sizes[@]}"; do expected+=("share/icons/hicolor/${s}x${s}/apps/trawlex.png"); done
fi
want=$(printf '%s\n' "${expected[@]}" | sort)
got=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
[[ $got == "$want" ]] || fail "installed files differ from the expected ones:"$'\n'"$(diff <(echo "$want") <(echo "$got"))"

# The installed program runs from its new place.
[[ -x $prefix/bin/trawlex ]] || fail "bin/trawlex is not executable"
[[ $(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/trawlex" --version) == "Trawlex $version" ]] ||
  fail "the installed program does not answer --version with 'Trawlex $version'"
# A search without a window never loads Qt; with a display the installed program finds its window
# program (a platform no Qt has makes that one fail at once, in Qt's words).
! readelf -d "$prefix/bin/trawlex" | grep -q 'NEEDED.*Qt' || fail "bin/trawlex links Qt"
if [[ $with_qt == ON ]]; then
  out=$(QT_QPA_PLATFORM=no-such-platform "$prefix/bin/trawlex" 2>&1) && fail "a window opened on no platform"
  grep -q 'no-such-platform' <<<"$out" || fail "the installed program did not start its window program: $out"
  rm "$prefix/libexec/trawlex/trawlex-window"
  out=$(QT_QPA_PLATFORM=offscreen "$prefix/bin/trawlex" 2>&1) && fail "no window program, yet trawlex succeeded"
  grep -q 'cannot start the search window: trawlex-window is in neither' <<<"$out" || fail "no window program: $out"
fi

# The manual page is compressed and covers every option that --help shows.
page=$prefix/share/man/man1/trawlex.1.gz
gzip -t "$page" || fail "trawlex.1.gz is not a valid gzip file"
text=$(zcat "$page" | sed 's/\\-/-/g; s/\\f[BIRP]//g')
grep -q '^\.SH NAME' <<<"$text" || fail "the manual page has no NAME section"
grep -q '^trawlex - ' <<<"$text" || fail "the manual page's NAME is not 'trawlex - ...'"
for option in $("$prefix/bin/trawlex" --help | grep -oE '(^| )(-[a-z]|--[a-z-]+)' | sort -u); do
  grep -qe "$option" <<<"$text" || fail "the manual page does not mention $option"
done

if [[ $with_qt == ON ]]; then
  entry=$prefix/share/applications/trawlex.desktop
  desktop-file-validate "$entry" || fail "desktop-file-validate rejects trawlex.desktop"
  grep -qx 'Icon=trawlex' "$entry" || fail "the desktop entry does not name the icon trawlex"
  exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
  [[ -x $prefix/bin/$exec_program ]] || fail "the desktop entry starts '$exec_program', which is not installed"
  grep -q '^MimeType=.*inode/directory;' "$entry" || fail "the desktop entry cannot open folders"
  # Each PNG is the size its folder says (width and height from the PNG header).
  for s in "${sizes[@]}"; do
    png=$prefix/share/icons/hicolor/${s}x${s}/apps/trawlex.png
    read -r w h < <(od -An -tu1 -j16 -N8 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
    [[ $w == "$s" && $h == "$s" ]] || fail "${s}x${s}/apps/trawlex.png is ${w}x${h}"
  done
  grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/trawlex.svg" || fail "trawlex.svg is not an SVG file"
fi

# A staged install (DESTDIR, as packagers do) keeps everything under the stage.
DESTDIR=$work/stage cmake --install "$build" --prefix /usr >/dev/null
[[ -x $work/stage/usr/bin/trawlex ]] || fail "DESTDIR install did not put usr/bin/trawlex under the stage"
[[ $(cd "$work/stage/usr" && find . -type f | wc -l) == "${#expected[@]}" ]] || fail "DESTDIR install differs from the prefix install"
echo "install_layout: ${#expected[@]} files in place"
