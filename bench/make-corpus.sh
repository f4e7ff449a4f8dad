#!/bin/sh
# Builds the corpus of the find-in-files benchmarks (scripts/bench) from text files that
# ship on the project's machines (Debian 12 with pyenv's CPython and rustup's stable
# toolchain).
#
#   sh make-corpus.sh [DEST]        (default DEST=/tmp/perf-corpus; ~2 GB disk)
#
# DEST/tree/  ~0.9 GB in ~70k files: real text trees (C/C++ headers incl. Qt 6,
#             Python stdlib, Perl/Vim/CMake runtime files, docs, rustdoc HTML).
#             Debian parts are taken from a fixed package list (dpkg -L), so
#             packages installed for other reasons do not change the corpus.
#             Only regular files with no NUL byte are copied, so every tool
#             treats every file as text; no hidden file or dot-directory (and
#             so no .gitignore/.ignore) is copied, so tools that skip hidden
#             files and tools that don't see the same file set.
# DEST/big/   4 files of exactly 200 MiB: the tree's files concatenated in
#             byte-order path order (wrapping around), cut in 4.
# DEST/MANIFEST  counts, bytes, package versions and checksums: compare two
#             builds' MANIFESTs to know they are the same corpus.
set -eu
DEST=${1:-/tmp/perf-corpus}
export LC_ALL=C
umask 022

INC_PKGS="nodejs llvm-14-dev libstdc++-12-dev linux-libc-dev libc6-dev libicu-dev
          libssl-dev libpython3.11-dev valgrind libgtest-dev libgmock-dev qt6-base-dev"
DOC_PKGS="nodejs git valgrind"
OTHER_PKGS="perl-modules-5.36 vim-runtime cmake-data"
ALL_PKGS=$(echo $INC_PKGS $DOC_PKGS $OTHER_PKGS | tr ' ' '\n' | sort -u)

missing=$(for p in $ALL_PKGS; do
    dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null | grep -q '^ii' || echo "$p"; done)
if [ -n "$missing" ]; then
    echo "installing: $missing" >&2
    apt-get install -y -q --no-install-recommends $missing >&2 ||
        { apt-get update -q >&2 && apt-get install -y -q --no-install-recommends $missing >&2; }
fi

PYSTD=$(python3 -c 'import sysconfig; print(sysconfig.get_paths()["stdlib"])')
RUSTDOC=$(rustc --print sysroot)/share/doc/rust/html

rm -rf "$DEST"
mkdir -p "$DEST/tree" "$DEST/big"

# copy_list NAME ROOT  < NUL-separated paths relative to ROOT
# Copies each regular, non-symlink, NUL-free file whose path has no hidden
# component to DEST/tree/NAME/<same relative path>, in byte order.
copy_list() {
    sort -zu | perl -e '
        use strict; use File::Path qw(make_path);
        my ($src, $dst) = @ARGV; local $/ = "\0"; my ($n, $b) = (0, 0);
        while (my $rel = <STDIN>) {
            chomp $rel; $rel =~ s{^\./}{};
            next if $rel eq "" or $rel =~ m{(^|/)\.};  # hidden file or dot-dir
            lstat("$src/$rel"); next unless -f _;       # regular, not a symlink
            open(my $in, "<:raw", "$src/$rel") or next;
            my $data = do { local $/; <$in> }; close $in; $data //= "";
            next if index($data, "\0") >= 0;           # binary: skip
            (my $dir = "$dst/$rel") =~ s{/[^/]*$}{};
            make_path($dir);
            open(my $out, ">:raw", "$dst/$rel") or die "$dst/$rel: $!";
            print $out $data; close $out or die; $n++; $b += length $data;
        }
        printf STDERR "%-14s %6d files %11d bytes\n", (split m{/}, $dst)[-1], $n, $b;
    ' "$2" "$DEST/tree/$1"
}
# from_pkgs ROOT PKG...: files under ROOT/ owned by the packages, relative to ROOT
from_pkgs() {
    root=$1; shift
    dpkg -L "$@" 2>/dev/null | grep "^$root/" | sed "s|^$root/||" | tr '\n' '\0'
}

from_pkgs /usr/include $INC_PKGS               | copy_list include /usr/include
from_pkgs /usr/share/doc $DOC_PKGS             | copy_list doc /usr/share/doc
from_pkgs /usr/share/perl perl-modules-5.36    | copy_list perl /usr/share/perl
from_pkgs /usr/share/vim vim-runtime           | copy_list vim /usr/share/vim
from_pkgs /usr/share/cmake-3.25 cmake-data     | copy_list cmake /usr/share/cmake-3.25
( cd "$PYSTD" && find . \( -path ./site-packages -o -name __pycache__ \) -prune -o -type f -print0 ) |
    copy_list python-std "$PYSTD"
( cd "$RUSTDOC" && find . -type f -print0 )    | copy_list rust-html "$RUSTDOC"

# Large-file corpus: the same bytes in 4 files.
PART=$((200 * 1024 * 1024))
( cd "$DEST/tree" && for pass in 1 2 3; do find . -type f -print0 | sort -z | xargs -0 cat; done ) 2>/dev/null |
    head -c $((4 * PART)) | ( cd "$DEST/big" && split -b $PART -d -a 1 --additional-suffix=.txt - big- )

sum_bytes() { find "$1" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}'; }
{
    echo "python: $(python3 -V 2>&1) ($PYSTD)"
    echo "rustc:  $(rustc -V)"
    for p in $ALL_PKGS; do dpkg-query -W -f='pkg: ${Package} ${Version}\n' "$p"; done
    for d in "$DEST"/tree/*/; do
        printf '%-14s %6d files %11d bytes\n' "$(basename "$d")" "$(find "$d" -type f | wc -l)" "$(sum_bytes "$d")"
    done
    printf '%-14s %6d files %11d bytes\n' TREE-TOTAL "$(find "$DEST/tree" -type f | wc -l)" "$(sum_bytes "$DEST/tree")"
    echo "tree paths+sizes sha256: $(cd "$DEST/tree" && find . -type f -printf '%P %s\n' | sort | sha256sum | cut -c1-16)"
    for f in "$DEST"/big/*.txt; do
        echo "$(basename "$f") $(stat -c %s "$f") bytes sha256: $(sha256sum < "$f" | cut -c1-16)"
    done
} > "$DEST/MANIFEST"
cat "$DEST/MANIFEST"
