#!/usr/bin/env bash
# Checks the Debian package that `make package` built: its files, modes and
# owners against packaging/expected-files.txt, its control data, the unit
# (systemd-analyze verify), the man pages (groff warnings), and lintian, which
# fails the check on any error.
set -euo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
DEB="${1:?usage: check-package.sh opc-kv7_VERSION_ARCH.deb}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
failed=0
fail() { echo "check-package: $*" >&2; failed=1; }

# Files and links with mode and owner; folders follow from them.
dpkg-deb -c "$DEB" | awk '$1 !~ /^d/ { print $1, $2, $6 ($7 == "->" ? " -> " $8 : "") }' | LC_ALL=C sort >"$WORK/files"
if ! diff -u "$HERE/expected-files.txt" "$WORK/files"; then
    fail "the package's files differ from packaging/expected-files.txt (above)"
fi

field() { dpkg-deb -f "$DEB" "$1"; }
[ "$(field Package)" = opc-kv7 ] || fail "package name is $(field Package)"
# The libraries come from the binaries (widgets from the window module), adduser
# from the maintainer scripts.
for dependency in adduser libqt6core6 libqt6network6 libqt6serialport6 libqt6widgets6 libc6; do
    field Depends | tr ',' '\n' | grep -q "^ *$dependency\b" || fail "Depends lacks $dependency: $(field Depends)"
done
dpkg-deb -e "$DEB" "$WORK/control"
for script in postinst prerm postrm; do
    [ -x "$WORK/control/$script" ] || fail "maintainer script $script is missing or not executable"
    sh -n "$WORK/control/$script" || fail "maintainer script $script does not parse"
done

dpkg-deb -x "$DEB" "$WORK/root"
UNITS="$WORK/root/usr/lib/systemd/system"
grep -qx 'ExecStart=/usr/bin/opc-kv7 --service' "$UNITS/opc-kv7.service" || fail "the unit does not start /usr/bin/opc-kv7 --service"
# Verified inside the package's tree, so the binary it starts is the packaged
# one; the system's own units complete the tree for the targets it names.
cp -an /usr/lib/systemd/system/. "$UNITS/"
if ! out="$(systemd-analyze verify --root="$WORK/root" --man=no opc-kv7.service 2>&1)" || [ -n "$out" ]; then
    fail "systemd-analyze verify: $out"
fi
systemd-analyze security --offline=true --root="$WORK/root" opc-kv7.service 2>&1 | tail -1

for page in "$WORK"/root/usr/share/man/man1/*.1.gz; do
    out="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)"
    [ -z "$out" ] || fail "$(basename "$page"): $out"
done

echo "lintian:"
if ! lintian --fail-on error --tag-display-limit 0 "$DEB"; then
    fail "lintian reports errors"
fi

if [ "$failed" = 0 ]; then
    echo "check-package: $(basename "$DEB") is sound"
fi
exit "$failed"
