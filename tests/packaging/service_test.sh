#!/bin/sh
# The service packaging: the unit's deliberate stops are the README's exit statuses, and the install
# script stages a tree with the folders' modes, the chosen frontend and a unit systemd accepts.
#   tests/packaging/service_test.sh SOURCE_DIR BUILD_DIR
set -eu
src=$1 build=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Every status of the README's exit-status table other than 0, and nothing else, keeps the service down.
readme=$(sed -n '/^### Exit status/,/^### /p' "$src/README.md" | sed -n 's/^| \([0-9][0-9]*\) |.*/\1/p' | grep -vx 0 | sort -n | tr '\n' ' ')
unit=$(sed -n 's/^RestartPreventExitStatus=//p' "$src/packaging/quorvanti.service" | tr ' ' '\n' | sort -n | tr '\n' ' ')
[ -n "$readme" ] || fail "no exit statuses found in README.md"
[ "$readme" = "$unit" ] || fail "README exit statuses [$readme] differ from RestartPreventExitStatus [$unit]"

# A staged install with the web frontend.
mkdir -p "$tmp/bin"
cp "$build/quorvanti" "$build/quorvanti-receipt" "$tmp/bin/" 2>/dev/null || fail "build $build has no quorvanti or quorvanti-receipt"
QUORVANTI_BUILD_DIR="$build" "$src/scripts/install-service.sh" --root "$tmp/root" --frontend web \
    --listen 127.0.0.1:8471 --prefix /opt/q --data /var/lib/q >/dev/null
mode() { stat -c %a "$1"; }
[ -x "$tmp/root/opt/q/bin/quorvanti" ] || fail "the monitor was not installed"
[ "$(mode "$tmp/root/var/lib/q/app")" = 750 ] || fail "program folder mode $(mode "$tmp/root/var/lib/q/app")"
[ "$(mode "$tmp/root/var/lib/q/app/certificados")" = 700 ] || fail "certificate folder mode"
service="$tmp/root/etc/systemd/system/quorvanti.service"
grep -qx 'ExecStart=/opt/q/bin/quorvanti --app-dir /var/lib/q/app --desktop-dir /var/lib/q/desktop --registry /var/lib/q/registry.ini --frontend web --listen 127.0.0.1:8471' "$service" \
    || fail "unexpected ExecStart: $(grep ExecStart= "$service")"
grep -qx 'ReadWritePaths=/var/lib/q' "$service" || fail "ReadWritePaths not moved to the data folder"
if "$src/scripts/install-service.sh" --root "$tmp/other" --frontend gui >/dev/null 2>&1; then
    fail "an unknown frontend was accepted"
fi

# systemd's own reading of the unit, where systemd-analyze is present.
if command -v systemd-analyze >/dev/null 2>&1; then
    # The staged binary stands in for the installed one, which verify looks for on this machine.
    sed "s|^ExecStart=/opt/q|ExecStart=$tmp/root/opt/q|" "$service" > "$tmp/quorvanti.service"
    out=$(systemd-analyze verify "$tmp/quorvanti.service" 2>&1) || fail "systemd-analyze: $out"
    if echo "$out" | grep -qi 'unknown\|invalid\|ignoring'; then fail "systemd-analyze: $out"; fi
else
    echo "systemd-analyze not present: the unit's syntax is not checked"
fi
echo "service packaging: ok"
