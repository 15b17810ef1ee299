#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR and checks what lands there: exactly the
# program, its launcher and the command for scripts (which links no GUI library), the desktop entry (valid, and pointing at the launcher and the
# icon), the icon at each size, AppStream metadata that validates against that tree and
# composes as a software centre's catalogue, the disk image kinds as a file manager tells
# them apart, the licence and changelog, and manual pages that format cleanly. Then builds
# the Debian package and checks it as a distribution would: lintian finds no error, no
# warning and no hardening flag missing, it depends on the fonts the windows are laid out
# for, and the package, its changelog, its manual page and its AppStream release carry one
# version.
# usage: check-install.sh BUILD_DIR [--hardened]
#   --hardened  the build has Debian's hardening flags, which lintian then finds in place
set -uo pipefail

build=${1:?usage: $0 BUILD_DIR [--hardened]}
hardened=${2:-}
dest=$(mktemp -d "${TMPDIR:-/tmp}/varnello-install.XXXXXX")
out=$(mktemp -d "${TMPDIR:-/tmp}/varnello-package.XXXXXX")
trap 'rm -rf "$dest" "$out"' EXIT

failures=0
fail() { echo "install: FAILED: $*" >&2; failures=$((failures + 1)); }

DESTDIR="$dest" cmake --install "$build" --prefix /usr >"$dest.log" 2>&1 \
    || { cat "$dest.log" >&2; rm -f "$dest.log"; echo "install: cmake --install failed" >&2; exit 1; }
rm -f "$dest.log"

expected="usr/bin/varnello
usr/bin/varnello-open
usr/bin/varnello-options
usr/share/applications/varnello.desktop
usr/share/doc/varnello/changelog.gz
usr/share/doc/varnello/copyright
usr/share/icons/hicolor/128x128/apps/varnello.png
usr/share/icons/hicolor/16x16/apps/varnello.png
usr/share/icons/hicolor/22x22/apps/varnello.png
usr/share/icons/hicolor/32x32/apps/varnello.png
usr/share/icons/hicolor/48x48/apps/varnello.png
usr/share/icons/hicolor/64x64/apps/varnello.png
usr/share/man/man1/varnello-open.1.gz
usr/share/man/man1/varnello-options.1.gz
usr/share/man/man1/varnello.1.gz
usr/share/metainfo/example.c_seed_58b273e4.varnello.metainfo.xml
usr/share/mime/packages/varnello.xml"
actual=$(cd "$dest" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "installed files differ:
$(diff <(echo "$expected") <(echo "$actual"))"

for program in varnello varnello-open varnello-options; do
    [ -x "$dest/usr/bin/$program" ] || fail "usr/bin/$program is not executable"
done
# The command for scripts runs where there is no display: no Qt, X, Wayland or GL at all.
gui=$(readelf -d "$dest/usr/bin/varnello-options" 2>&1 | grep NEEDED | grep -Ei 'qt|x11|xcb|wayland|gl|fontconfig|freetype')
[ -z "$gui" ] || fail "varnello-options links a GUI library: $gui"

desktop="$dest/usr/share/applications/varnello.desktop"
if [ -f "$desktop" ]; then
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
    else
        echo "install: desktop-file-validate missing; entry not validated"
    fi
    grep -qx 'Exec=varnello-open %f' "$desktop" || fail "the desktop entry does not run the launcher"
    grep -q '^MimeType=.*application/x-raw-disk-image;' "$desktop" || fail "the desktop entry opens no disk images"
    grep -qx 'Icon=varnello' "$desktop" || fail "the desktop entry does not name the icon"
    grep -qx 'Categories=System;Settings;' "$desktop" || fail "the desktop entry's categories"
fi

# The metadata as a software centre reads it: its own rules, the desktop entry it names, and
# the catalogue entry composed from both with the icon. No placeholder address is shown.
appstreamcli validate-tree --no-net "$dest/usr" || fail "appstreamcli rejects the AppStream metadata"
compose=$(appstreamcli compose --no-color --origin=varnello --result-root="$out/compose" "$dest" 2>&1)
[ $? = 0 ] && ! grep -Eq '^ *(E|W):|error|warning' <<<"$compose" || fail "appstreamcli compose: $compose"
! grep -q '\.example' "$dest"/usr/share/metainfo/*.xml || fail "the AppStream metadata shows a placeholder address"

for size in 16 22 32 48 64 128; do
    icon="$dest/usr/share/icons/hicolor/${size}x${size}/apps/varnello.png"
    [ -f "$icon" ] || continue
    # A PNG's IHDR holds width and height as big-endian 32-bit numbers at bytes 16..23.
    dims=$(od -An -tu1 -j16 -N8 "$icon" | tr -s ' ' | sed 's/^ //')
    [ "$dims" = "0 0 0 $size 0 0 0 $size" ] || fail "icon ${size}x${size} is not that size ($dims)"
done

# The kinds a file manager offers Varnello for, as GIO tells them apart with the package's
# shared-mime-info rules beside Debian's own: by name, by the boot sector where names
# collide (a fixed VHD beside VHDL source), and nothing taken from a text file.
mime="$out/mime"
mkdir -p "$mime/share/mime/packages" "$mime/files"
cp /usr/share/mime/packages/freedesktop.org.xml "$dest/usr/share/mime/packages/varnello.xml" \
    "$mime/share/mime/packages/"
update-mime-database "$mime/share/mime" >/dev/null 2>&1 || fail "update-mime-database rejects the package's file kinds"
boot_sector() { head -c 510 /dev/zero; printf '\x55\xaa'; head -c 1024 /dev/zero; }
boot_sector >"$mime/files/disk"
{ boot_sector; printf 'conectix'; head -c 504 /dev/zero; } >"$mime/files/fixed.vhd"
printf 'library ieee;\nuse ieee.std_logic_1164.all;\nentity blink is\nend entity;\n' >"$mime/files/source.vhd"
for floppy in ima flp vfd dsk; do boot_sector >"$mime/files/floppy.$floppy"; done
while read -r file kind; do
    found=$(XDG_DATA_DIRS="$mime/share" XDG_DATA_HOME="$mime/none" gio info -a standard::content-type \
        "$mime/files/$file" | sed -n 's/^ *standard::content-type: //p')
    [ "$found" = "$kind" ] || fail "$file is taken for $found, not $kind"
done <<'KINDS'
disk application/x-raw-disk-image
fixed.vhd application/x-vhd-disk
source.vhd text/x-vhdl
floppy.ima application/x-raw-floppy-disk-image
floppy.flp application/x-raw-floppy-disk-image
floppy.vfd application/x-raw-floppy-disk-image
floppy.dsk application/x-raw-floppy-disk-image
KINDS

man="$dest/usr/share/man/man1/varnello.1.gz"
if [ -f "$man" ]; then
    page=$(gzip -dc "$man") || fail "the manual page is not gzip"
    for heading in NAME SYNOPSIS DESCRIPTION ENVIRONMENT FILES "EXIT STATUS" SAFETY "SEE ALSO"; do
        grep -q "^\.SH $heading" <<<"$page" || fail "the manual page lacks $heading"
    done
    for word in VARNELLO_DRIVE_ VARNELLO_PARTITION_ WINEPREFIX msdos.sys io.dos msdos.dos command.dos; do
        grep -q "$word" <<<"$page" || fail "the manual page does not mention $word"
    done
fi
launcher_man="$dest/usr/share/man/man1/varnello-open.1.gz"
if [ -f "$launcher_man" ]; then
    page=$(gzip -dc "$launcher_man") || fail "the launcher's manual page is not gzip"
    for word in VARNELLO_DRIVE_C 'Disk Image' Cancel 'EXIT STATUS'; do
        grep -q "$word" <<<"$page" || fail "the launcher's manual page does not mention $word"
    done
fi
options_man="$dest/usr/share/man/man1/varnello-options.1.gz"
if [ -f "$options_man" ]; then
    page=$(gzip -dc "$options_man") || fail "the manual page of varnello-options is not gzip"
    for word in '\-\-force' '\-\-defaults' '\-\-partition' 'EXIT STATUS' DRVSpace BootDelay; do
        grep -qF -- "$word" <<<"$page" || fail "the manual page of varnello-options does not mention $word"
    done
fi
if command -v groff >/dev/null; then
    for page in "$man" "$launcher_man" "$options_man"; do
        [ -f "$page" ] || continue
        warnings=$(gzip -dc "$page" | groff -man -Tutf8 -ww -z 2>&1)
        [ -z "$warnings" ] || fail "groff warns about $(basename "$page"): $warnings"
    done
fi

# The Debian package of the same build.
cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 \
    || { cat "$out/cpack.log" >&2; echo "install: cpack failed" >&2; exit 1; }
deb=$(echo "$out"/*.deb)
[ -f "$deb" ] || { echo "install: cpack made no .deb" >&2; exit 1; }

# Lintian warns on stderr when run as root; only its findings count. With every tag shown,
# none may say a hardening flag or stripping is missing from a hardened build.
findings=$(lintian --fail-on error,warning "$deb" 2>/dev/null)
status=$?
[ "$status" = 0 ] && [ -z "$findings" ] || fail "lintian (status $status):
$findings"
if [ "$hardened" = --hardened ]; then
    findings=$(lintian -I --pedantic "$deb" 2>/dev/null | grep -E 'hardening|unneeded-section|unstripped')
    [ -z "$findings" ] || fail "lintian finds the build unhardened:
$findings"
fi

depends=$(dpkg-deb --field "$deb" Depends)
recommends=$(dpkg-deb --field "$deb" Recommends)
for package in fonts-liberation2 libqt6widgets6; do
    grep -Eq "(^|, )$package( |,|$)" <<<"$depends" || fail "the package does not depend on $package: $depends"
done
for package in mtools qemu-system-common fuse3 qt6-wayland; do
    grep -Eq "(^|, )$package( |,|$)" <<<"$recommends" || fail "the package does not recommend $package: $recommends"
done

version=$(dpkg-deb --field "$deb" Version)
dpkg-deb --extract "$deb" "$out/root"
share="$out/root/usr/share"
gzip -dc "$share/doc/varnello/changelog.gz" | head -n 1 | grep -qF "varnello ($version) " \
    || fail "the changelog's latest entry is not version $version"
gzip -dc "$share/man/man1/varnello.1.gz" | grep -qF "\"Varnello $version\"" \
    || fail "the manual page is not of version $version"
grep -qF "<release version=\"$version\"" "$share"/metainfo/*.metainfo.xml \
    || fail "the AppStream metadata has no release $version"

[ "$failures" = 0 ] || exit 1
echo "install: all checks passed, $(basename "$deb") included"
