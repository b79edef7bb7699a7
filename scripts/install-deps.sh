#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need. Idempotent: packages already
# present are left alone, so a second run costs one dpkg query.
set -eu

PACKAGES="
build-essential cmake pkg-config
libsqlite3-dev sqlite3 libmariadb-dev mariadb-server
libxml2-dev libxmlsec1-dev libssl-dev openssl
libcurl4-openssl-dev libcpp-httplib-dev libqrencode-dev libcairo2-dev
libcups2-dev libpoppler-glib-dev fonts-liberation fontconfig cups cups-bsd cups-client
googletest libgtest-dev libgmock-dev libbenchmark-dev
xmlsec1 libxml2-utils zbar-tools poppler-utils
clang libclang-rt-14-dev
libseccomp-dev systemd
chromium
"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    echo "install-deps: every package is present"
    exit 0
fi

echo "install-deps: installing$missing"
if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
else
    SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
# mariadb-server must not start a system-wide server as a side effect of installation; the tests
# start their own on a private socket.
if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
    $SUDO chmod +x /usr/sbin/policy-rc.d
    trap '$SUDO rm -f /usr/sbin/policy-rc.d' EXIT
fi
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $missing
