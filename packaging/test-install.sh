#!/usr/bin/env bash
# Installs, upgrades, removes and purges the package in a throwaway Debian root
# (debootstrap, chroot) and checks what the maintainer scripts leave behind:
# the account in dialout, the application folder 0750, the default files, the
# language link, and the operator's files kept until the purge.
#   packaging/test-install.sh PACKAGE.deb [ROOT-TARBALL]
# ROOT-TARBALL: where a fresh debootstrap root is kept (made on the first run,
# which takes minutes); without it every run makes its own root.
set -euo pipefail
DEB="$(realpath "${1:?usage: test-install.sh PACKAGE.deb [ROOT-TARBALL]}")"
TARBALL="${2:-}"
WORK="$(mktemp -d /var/tmp/kv7-install.XXXXXX)"
ROOT="$WORK/root"
cleanup() {
    umount "$ROOT/proc" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

step() { echo "== $*"; }
fail() {
    echo "test-install: $*" >&2
    exit 1
}
in_root() { chroot "$ROOT" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }
stat_of() { in_root stat -c '%U:%G %a' "$1"; }

mkdir -p "$ROOT"
if [ -n "$TARBALL" ] && [ -f "$TARBALL" ]; then
    tar -C "$ROOT" -xzf "$TARBALL"
else
    debootstrap --variant=minbase bookworm "$ROOT" http://deb.debian.org/debian >"$WORK/debootstrap.log" ||
        { tail "$WORK/debootstrap.log"; fail "debootstrap failed"; }
    if [ -n "$TARBALL" ]; then
        mkdir -p "$(dirname "$TARBALL")"
        tar -C "$ROOT" -czf "$TARBALL.part" . && mv "$TARBALL.part" "$TARBALL"
    fi
fi
mount -t proc proc "$ROOT/proc"
cp /etc/resolv.conf "$ROOT/etc/resolv.conf"

# The same package under a higher version stands in for the next release.
dpkg-deb -R "$DEB" "$WORK/next"
sed -i 's/^Version: \(.*\)$/Version: \1+next1/' "$WORK/next/DEBIAN/control"
dpkg-deb --root-owner-group -b "$WORK/next" "$ROOT/next.deb" >/dev/null
cp "$DEB" "$ROOT/first.deb"

APP=/var/lib/opc-kv7
step "install"
in_root apt-get update -qq
in_root apt-get install -y -qq ./first.deb >"$WORK/apt.log" 2>&1 || { cat "$WORK/apt.log"; fail "apt install failed"; }
in_root dpkg -s opc-kv7 | grep -qx 'Status: install ok installed' || fail "not installed"
in_root id -nG opc-kv7 | tr ' ' '\n' | grep -qx dialout || fail "opc-kv7 is not in dialout"
in_root getent passwd opc-kv7 | grep -q ":$APP:" || fail "opc-kv7's home is not $APP"
[ "$(stat_of $APP)" = "opc-kv7:opc-kv7 750" ] || fail "$APP is $(stat_of $APP)"
for file in OPC-KV7.ini KV7.ini; do
    [ "$(stat_of $APP/$file)" = "opc-kv7:opc-kv7 640" ] || fail "$file is $(stat_of $APP/$file)"
    cmp -s "$ROOT$APP/$file" "$ROOT/usr/share/opc-kv7/$file" || fail "$file is not the default"
done
[ "$(readlink "$ROOT$APP/OPC-KV7.LNG")" = /usr/share/opc-kv7/OPC-KV7.LNG ] || fail "no language link"
WANTS=/etc/systemd/system/multi-user.target.wants/opc-kv7.service
[ ! -e "$ROOT$WANTS" ] && [ ! -L "$ROOT$WANTS" ] || fail "the first install enabled the service"
in_root ldd /usr/bin/opc-kv7 /usr/bin/kv7sim | grep 'not found' && fail "libraries missing from Depends"
in_root kv7sim --help | grep -q '^Usage: kv7sim' || fail "kv7sim does not run"

step "the operator's files"
printf '[KV7]\r\nC1-On=1\r\nC1-Nm=Operator\r\n' >"$ROOT$APP/KV7.ini"
echo scrambled >"$ROOT$APP/PUSER.DAT"
echo 'user:hash' >"$ROOT$APP/users"
mkdir -p "$ROOT$APP/pki/own/certs"
echo cert >"$ROOT$APP/pki/own/certs/server.der"
rm "$ROOT$APP/OPC-KV7.ini"
cp -a "$ROOT$APP" "$WORK/before"

step "reinstall and upgrade of an enabled service"
# As `systemctl enable` would (the root has no systemd).
mkdir -p "$(dirname "$ROOT$WANTS")"
ln -s /usr/lib/systemd/system/opc-kv7.service "$ROOT$WANTS"
in_root dpkg -i first.deb >/dev/null
in_root dpkg -i next.deb >/dev/null
in_root dpkg -s opc-kv7 | grep -q '^Version: .*+next1$' || fail "not upgraded"
# Everything kept byte for byte; only the missing default is filled in.
diff -r --no-dereference "$WORK/before" "$ROOT$APP" >"$WORK/changes" || true
[ "$(cat "$WORK/changes")" = "Only in $ROOT$APP: OPC-KV7.ini" ] || fail "upgrade changed the folder: $(cat "$WORK/changes")"
cmp -s "$ROOT$APP/OPC-KV7.ini" "$ROOT/usr/share/opc-kv7/OPC-KV7.ini" || fail "OPC-KV7.ini is not the default"
[ -L "$ROOT$WANTS" ] || fail "the upgrade disabled the service"

step "an operator's own language file"
rm "$ROOT$APP/OPC-KV7.LNG"
echo 'own texts' >"$ROOT$APP/OPC-KV7.LNG"
in_root dpkg -i next.deb >/dev/null
grep -qx 'own texts' "$ROOT$APP/OPC-KV7.LNG" || fail "the operator's language file was replaced"

step "remove"
in_root dpkg -r opc-kv7 >/dev/null
[ ! -e "$ROOT/usr/bin/opc-kv7" ] || fail "remove left the program"
for file in KV7.ini OPC-KV7.ini PUSER.DAT users pki/own/certs/server.der OPC-KV7.LNG; do
    [ -e "$ROOT$APP/$file" ] || fail "remove deleted $file"
done
[ "$(stat_of $APP)" = "opc-kv7:opc-kv7 750" ] || fail "remove changed $APP"

step "install again over the kept folder"
in_root dpkg -i first.deb >/dev/null
grep -q 'C1-Nm=Operator' "$ROOT$APP/KV7.ini" || fail "reinstall replaced KV7.ini"

step "purge"
in_root dpkg -P opc-kv7 >/dev/null
[ ! -e "$ROOT$APP" ] || fail "purge left $APP"
[ ! -L "$ROOT$WANTS" ] || fail "purge left the service enabled"
in_root dpkg -s opc-kv7 >/dev/null 2>&1 && fail "purge left the package known"

echo "test-install: install, upgrade, remove and purge behave"
