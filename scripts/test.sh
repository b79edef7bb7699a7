#!/bin/sh
# Everything the tests need, from a fresh machine: the Debian packages, both builds (optimised, and with
# AddressSanitizer + UndefinedBehaviorSanitizer), a private MariaDB server and a private CUPS server (as
# root; the CUPS tests skip otherwise) on Unix sockets, then every test suite in both builds, then the
# panel's browser tests, then every fuzz target for 15 s (QUORVANTI_FUZZ_SECONDS) over its corpus.
# Exits non-zero when anything fails.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

"$top/scripts/install-deps.sh"
"$top/scripts/build.sh" release
"$top/scripts/build.sh" asan

dbdir=$(mktemp -d /tmp/quorvanti-mariadb-XXXXXX)
cupsdir=$(mktemp -d /tmp/quorvanti-cups-XXXXXX)
cleanup() {
    "$top/scripts/mariadb-test-server.sh" stop "$dbdir" >/dev/null 2>&1 || true
    "$top/scripts/cups-test-server.sh" stop "$cupsdir" >/dev/null 2>&1 || true
    rm -rf "$dbdir" "$cupsdir"
}
trap cleanup EXIT INT TERM
QUORVANTI_TEST_MYSQL_SOCKET=$("$top/scripts/mariadb-test-server.sh" start "$dbdir" | tail -n 1)
export QUORVANTI_TEST_MYSQL_SOCKET
# The print tests send real jobs through it; each job lands in $cupsdir/out/<queue>/.
if [ "$(id -u)" -eq 0 ]; then
    QUORVANTI_TEST_CUPS_SERVER=$("$top/scripts/cups-test-server.sh" start "$cupsdir" | tail -n 1)
    QUORVANTI_TEST_CUPS_OUTPUT=$cupsdir/out
    export QUORVANTI_TEST_CUPS_SERVER QUORVANTI_TEST_CUPS_OUTPUT
else
    echo "test.sh: not root, so no CUPS server: the tests that print through CUPS are skipped" >&2
fi

export QUORVANTI_CI=1  # a test whose prerequisite is missing fails instead of skipping
# The tax authority's schemas are the workplace's (never copied here), found beside the checkout or in
# $QUORVANTI_SHARED_DIR: without them the tests that compare with them are skipped, and said so here.
shared=${QUORVANTI_SHARED_DIR:-$top/../shared}
if [ ! -f "$shared/nfe-schemas/nfe_v4.00.xsd" ]; then
    echo "test.sh: NO OFFICIAL SCHEMAS in $shared: the tests that compare with them are SKIPPED" >&2
    export QUORVANTI_WITHOUT_SHARED=1
fi
status=0
for build in release asan; do
    echo "== tests: $build"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        LSAN_OPTIONS=suppressions="$top/tests/lsan.supp" ctest --test-dir "$top/build/$build" --output-on-failure -j "$jobs" || status=1
done
# The operator's panel in Debian's chromium, driven by playwright-core (which downloads no browser),
# against the release build's monitor and local SEFAZ.
echo "== panel (browser)"
if [ ! -x /usr/bin/chromium ] || ! command -v npm >/dev/null 2>&1; then
    echo "panel: chromium or npm is missing (scripts/install-deps.sh installs them): browser tests FAILED" >&2
    status=1
elif ! npm ci --prefix "$top/tests/panel" --no-audit --no-fund >/dev/null; then
    echo "panel: npm ci failed"
    status=1
else
    (cd "$top/tests/panel" && QUORVANTI_BUILD="$top/build/release" node --test --test-concurrency=1) || status=1
fi
# Every fuzz target for a short while over its corpus (the long runs are scripts/fuzz.sh --runs N).
echo "== fuzz"
"$top/scripts/fuzz.sh" --quick --seconds "${QUORVANTI_FUZZ_SECONDS:-15}" || status=1
exit $status
