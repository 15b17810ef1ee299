#!/usr/bin/env bash
# Builds the Debian package of the build in a scratch directory and checks it as a
# distribution would: lintian finds no error and no warning, and the package, its
# changelog, its manual page and its AppStream release all carry the project's version.
# usage: check-package.sh BUILD_DIR
set -uo pipefail

build=${1:?usage: $0 BUILD_DIR}
out=$(mktemp -d "${TMPDIR:-/tmp}/varnello-package.XXXXXX")
trap 'rm -rf "$out"' EXIT

failures=0
fail() { echo "package: FAILED: $*" >&2; failures=$((failures + 1)); }

cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 \
    || { cat "$out/cpack.log" >&2; echo "package: cpack failed" >&2; exit 1; }
deb=$(echo "$out"/*.deb)
[ -f "$deb" ] || { echo "package: cpack made no .deb" >&2; exit 1; }

# Lintian warns on stderr when run as root; only its findings count.
findings=$(lintian --fail-on error,warning "$deb" 2>/dev/null)
status=$?
[ "$status" = 0 ] && [ -z "$findings" ] || fail "lintian (status $status):
$findings"

version=$(dpkg-deb --field "$deb" Version)
dpkg-deb --extract "$deb" "$out/root"
doc="$out/root/usr/share"
gzip -dc "$doc/doc/varnello/changelog.gz" | head -n 1 | grep -qF "varnello ($version) " \
    || fail "the changelog's latest entry is not version $version"
gzip -dc "$doc/man/man1/varnello.1.gz" | grep -qF "\"Varnello $version\"" \
    || fail "the manual page is not of version $version"
grep -qF "<release version=\"$version\"" "$doc"/metainfo/*.metainfo.xml \
    || fail "the AppStream metadata has no release $version"

[ "$failures" = 0 ] || exit 1
echo "package: $(basename "$deb") passed lintian"
