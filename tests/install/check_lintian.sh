#!/usr/bin/env bash
# check_lintian.sh BUILD_DIR VERSION
# Makes the Debian package with cpack and has lintian check it: no error and no warning, and
# none of the notes on hardening or stripping that Debian's own packages are free of.
set -euo pipefail
build=$1 version=$2
fail() { echo "deb_lintian: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$work/trawlex_${version}-1_$(dpkg --print-architecture).deb
[[ -f $deb ]] || fail "no $(basename "$deb") was made"

report=$(cd "$work" && lintian --allow-root --no-cfg --display-info "$deb" 2>&1) || true
echo "$report"
if grep -E '^(E|W): ' <<<"$report" >/dev/null; then fail "lintian reports errors or warnings"; fi
if grep -E '^I: .*(hardening-|binary-has-unneeded-section|unstripped-binary)' <<<"$report" >/dev/null; then
  fail "the program lacks hardening or stripping"
fi
echo "deb_lintian: $(basename "$deb") passes lintian"
