#!/bin/sh
# Installs the monitor as a systemd service: the build under PREFIX, a system user, the program folder
# with its permissions, and the unit, enabled (not started: the shop's settings and certificate go into
# the program folder first).
#
#   scripts/install-service.sh [--frontend headless|web] [--listen ADDR:PORT] [--prefix DIR] [--data DIR]
#                              [--user NAME] [--root DIR] [--no-enable]
#                              [--password-credential FILE [--plain-credential]]
#
# --root DIR installs into DIR as if it were "/" (no user is created and systemctl is not called), to
# look at the result or package it. Run as root otherwise.
# --password-credential FILE hands the certificate's password to the service as the systemd credential
# quorvanti-certificado-senha (a drop-in beside the unit), so that no .senha file is needed: FILE made
# by systemd-creds encrypt, or a plain file with --plain-credential.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
frontend=headless listen=127.0.0.1:8470 prefix=/opt/quorvanti data=/var/lib/quorvanti user=quorvanti
root="" enable=yes credential="" credential_key=LoadCredentialEncrypted
usage() { sed -n '6,8p' "$0" | sed 's/^# *//' >&2; exit 64; }
while [ $# -gt 0 ]; do
    case "$1" in
        --frontend) [ $# -ge 2 ] || usage; frontend=$2; shift 2 ;;
        --listen) [ $# -ge 2 ] || usage; listen=$2; shift 2 ;;
        --prefix) [ $# -ge 2 ] || usage; prefix=$2; shift 2 ;;
        --data) [ $# -ge 2 ] || usage; data=$2; shift 2 ;;
        --user) [ $# -ge 2 ] || usage; user=$2; shift 2 ;;
        --root) [ $# -ge 2 ] || usage; root=$2; shift 2 ;;
        --no-enable) enable=no; shift ;;
        --password-credential) [ $# -ge 2 ] || usage; credential=$2; shift 2 ;;
        --plain-credential) credential_key=LoadCredential; shift ;;
        *) usage ;;
    esac
done
case "$frontend" in headless|web) ;; *) echo "install-service: --frontend must be headless or web" >&2; exit 64 ;; esac
case "$prefix$data" in *" "*|*"'"*) echo "install-service: paths with blanks or quotes are not supported" >&2; exit 64 ;; esac
case "$user" in ''|*[!a-z0-9_-]*) echo "install-service: --user must be a plain lower-case name" >&2; exit 64 ;; esac
case "$credential" in
    *" "*|*"'"*|*'"'*) echo "install-service: paths with blanks or quotes are not supported" >&2; exit 64 ;;
    ''|/*) ;;
    *) echo "install-service: --password-credential takes an absolute path" >&2; exit 64 ;;
esac
if [ -z "$root" ] && [ "$(id -u)" -ne 0 ]; then
    echo "install-service: run as root (or with --root DIR to stage the files)" >&2
    exit 1
fi

# QUORVANTI_BUILD_DIR names a build to install; without it the release build is made when missing.
bin=${QUORVANTI_BUILD_DIR:-$top/build/release}
if [ ! -x "$bin/quorvanti" ] || [ ! -x "$bin/quorvanti-receipt" ]; then
    if [ -n "${QUORVANTI_BUILD_DIR:-}" ]; then
        echo "install-service: $bin holds no quorvanti and quorvanti-receipt" >&2
        exit 1
    fi
    "$top/scripts/install-deps.sh"
    "$top/scripts/build.sh" release
fi

# The service user owns its program folder; lp and dialout reach USB and serial receipt printers.
if [ -z "$root" ] && ! id "$user" >/dev/null 2>&1; then
    useradd --system --home-dir "$data" --no-create-home --shell /usr/sbin/nologin --user-group "$user"
fi
owner() {  # chown only for a real install; a staged tree keeps the caller's ownership
    [ -n "$root" ] || chown "$user:$user" "$@"
}

install -d -m 755 "$root$prefix/bin"
install -m 755 "$bin/quorvanti" "$bin/quorvanti-receipt" "$root$prefix/bin/"
install -m 644 "$top/README.md" "$root$prefix/README.md"
# The program folder holds the shop's settings, certificates and fiscal documents: the service user only.
install -d -m 750 "$root$data" "$root$data/app" "$root$data/desktop"
install -d -m 700 "$root$data/app/certificados"
owner "$root$data" "$root$data/app" "$root$data/desktop" "$root$data/app/certificados"

options="--app-dir $data/app --desktop-dir $data/desktop --registry $data/registry.ini --frontend $frontend"
if [ "$frontend" = web ]; then options="$options --listen $listen"; fi
install -d -m 755 "$root/etc/systemd/system"
sed -e "s|^User=.*|User=$user|" -e "s|^Group=.*|Group=$user|" \
    -e "s|^WorkingDirectory=.*|WorkingDirectory=$data/app|" \
    -e "s|^ExecStart=.*|ExecStart=$prefix/bin/quorvanti $options|" \
    -e "s|^ReadWritePaths=.*|ReadWritePaths=$data|" \
    -e "s|^Documentation=.*|Documentation=file://$prefix/README.md|" \
    "$top/packaging/quorvanti.service" > "$root/etc/systemd/system/quorvanti.service"
chmod 644 "$root/etc/systemd/system/quorvanti.service"
# A drop-in of its own, so that the unit stays as packaged; a later install without the option leaves it.
if [ -n "$credential" ]; then
    install -d -m 755 "$root/etc/systemd/system/quorvanti.service.d"
    printf '%s\n' "# scripts/install-service.sh --password-credential: the certificate's password as a credential" \
        "[Service]" "$credential_key=quorvanti-certificado-senha:$credential" \
        > "$root/etc/systemd/system/quorvanti.service.d/senha-certificado.conf"
    chmod 644 "$root/etc/systemd/system/quorvanti.service.d/senha-certificado.conf"
    [ -n "$root" ] || [ -e "$credential" ] ||
        echo "install-service: $credential does not exist yet; the service cannot start until it does" >&2
fi

echo "install-service: installed $prefix/bin/quorvanti, program folder $data/app, unit quorvanti.service ($frontend frontend)"
if [ -n "$root" ] || [ "$enable" = no ]; then
    exit 0
fi
if [ -d /run/systemd/system ]; then
    systemctl daemon-reload
    systemctl enable quorvanti.service
    echo "install-service: enabled; put ConfigINI.ini and the certificate in $data/app, then: systemctl start quorvanti"
else
    echo "install-service: systemd is not running here; the unit is in place and is enabled at the next boot with: systemctl enable quorvanti"
fi
