#!/bin/sh
# The service packaging: the unit's deliberate stops are the exit statuses the README marks as waiting for
# a person, and the install script stages a tree with the folders' modes, the chosen frontend and a unit
# that systemd accepts and rates "OK" (exposure at most 2.5).
#   tests/packaging/service_test.sh SOURCE_DIR BUILD_DIR
set -eu
src=$1 build=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The statuses of the README's exit-status table marked "waits for a person" (last column), and nothing
# else, keep the service down; every row says what the service does.
table=$(sed -n '/^### Exit status/,/^### /p' "$src/README.md" | grep '^| [0-9]')
readme=$(echo "$table" | sed -n 's/^| \([0-9][0-9]*\) |.*| waits for a person |$/\1/p' | sort -n | tr '\n' ' ')
unit=$(sed -n 's/^RestartPreventExitStatus=//p' "$src/packaging/quorvanti.service" | tr ' ' '\n' | sort -n | tr '\n' ' ')
[ -n "$readme" ] || fail "no exit status of README.md waits for a person"
[ "$readme" = "$unit" ] || fail "README statuses waiting for a person [$readme] differ from RestartPreventExitStatus [$unit]"
unmarked=$(echo "$table" | grep -v '| \(ends\|restarted\|waits for a person\) |$' || true)
[ -z "$unmarked" ] || fail "exit statuses without what the service does: $unmarked"

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

# systemd's own reading and rating of the installed unit (scripts/install-deps.sh installs systemd).
command -v systemd-analyze >/dev/null 2>&1 || fail "systemd-analyze is missing: run scripts/install-deps.sh"
# The staged binary stands in for the installed one, which verify looks for on this machine.
sed "s|^ExecStart=/opt/q|ExecStart=$tmp/root/opt/q|" "$service" > "$tmp/quorvanti.service"
out=$(systemd-analyze verify "$tmp/quorvanti.service" 2>&1) || fail "systemd-analyze verify: $out"
if echo "$out" | grep -qi 'unknown\|invalid\|ignoring\|not supported'; then fail "systemd-analyze verify: $out"; fi
rating=$(systemd-analyze security --offline=true --no-pager "$service" 2>&1) || fail "systemd-analyze security: $rating"
exposure=$(echo "$rating" | sed -n 's/.*Overall exposure level for quorvanti.service: \([0-9][0-9.]*\) .*/\1/p')
[ -n "$exposure" ] || fail "no overall exposure level in: $(echo "$rating" | tail -3)"
awk -v e="$exposure" 'BEGIN { exit !(e <= 2.5) }' || fail "exposure $exposure is above 2.5:
$(echo "$rating" | grep '✗')"
echo "service packaging: ok"
