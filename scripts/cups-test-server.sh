#!/bin/sh
# A private CUPS server for the printing tests: its own configuration, spool and logs in DIR, a Unix
# socket DIR/cups.sock and no TCP port, no browsing, so it never meets the machine's own server or
# printers. Two queues, both raw (documents reach the device as sent):
#   recibo   the receipt printer's queue (ESC/POS bytes)
#   a4       the printer object's queue (PDF pages); the server's default destination
# Each job lands as one file DIR/out/<queue>/job-<id>-<title> (title characters outside
# [A-Za-z0-9._-] become "_"), written whole before it appears under that name.
#
#   scripts/cups-test-server.sh start DIR   write the configuration (first time), start cupsd, wait
#                                           until it answers, print the CUPS_SERVER value (the socket)
#   scripts/cups-test-server.sh stop DIR    stop the server
#
# Both are idempotent. cupsd needs root (it runs its back ends as another user). Tests read the socket
# from QUORVANTI_TEST_CUPS_SERVER and the output folder from QUORVANTI_TEST_CUPS_OUTPUT.
set -eu

name=cups-test-server
# shellcheck source=scripts/test-server-common.sh
. "$(dirname "$0")/test-server-common.sh"
read_arguments "$@"
socket=$dir/cups.sock
pidfile=$dir/cupsd.pid
conf=$dir/etc
errorlog=$dir/log/error_log
out=$dir/out
check_socket_length "$socket"

answers() {
    CUPS_SERVER=$socket lpstat -r 2>/dev/null | grep -q "is running"
}

# The output back end: "quorvanti-out:/FOLDER" puts each job into FOLDER, as a temporary file first
# so that a reader never sees half a job. Mode 0700 makes cupsd run it as root, which owns DIR.
write_backend() {
    cat >"$1" <<'EOF'
#!/bin/sh
if [ $# -eq 0 ]; then
    echo 'file quorvanti-out "Unknown" "Quorvanti test output"'
    exit 0
fi
umask 022
folder=${DEVICE_URI#quorvanti-out:}
name=$(printf '%s' "$3" | tr -c 'A-Za-z0-9._-' '_')
mkdir -p "$folder" || exit 1
partial=$folder/.job-$1
if [ $# -ge 6 ]; then
    cat "$6" >"$partial" || exit 1
else
    cat >"$partial" || exit 1
fi
mv "$partial" "$folder/job-$1-$name"
EOF
    chmod 0700 "$1"
}

configure() {
    mkdir -p "$conf" "$dir/spool/tmp" "$dir/cache" "$dir/run" "$dir/log" "$dir/lib/backend" "$out/recibo" "$out/a4"
    # The server's programs come from the cups package; only the back end is ours.
    for part in cgi-bin daemon driver filter monitor notifier; do
        [ -e "$dir/lib/$part" ] || ln -s "/usr/lib/cups/$part" "$dir/lib/$part"
    done
    write_backend "$dir/lib/backend/quorvanti-out"
    # cupsd refuses programs in folders that others may write.
    chmod 0755 "$dir" "$dir/lib" "$dir/lib/backend"

    cat >"$conf/cups-files.conf" <<EOF
ServerRoot $conf
RequestRoot $dir/spool
TempDir $dir/spool/tmp
CacheDir $dir/cache
StateDir $dir/run
ServerBin $dir/lib
DataDir /usr/share/cups
DocumentRoot /usr/share/cups/doc-root
AccessLog $dir/log/access_log
ErrorLog $errorlog
PageLog $dir/log/page_log
SystemGroup root
FileDevice Yes
EOF
    cat >"$conf/cupsd.conf" <<EOF
Listen $socket
LogLevel warn
Browsing No
BrowseLocalProtocols none
WebInterface No
DefaultShared No
MaxJobs 0
PreserveJobHistory No
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  JobPrivateAccess all
  JobPrivateValues none
  SubscriptionPrivateAccess all
  SubscriptionPrivateValues none
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
    cat >"$conf/printers.conf" <<EOF
<Printer recibo>
Info Quorvanti test receipt printer
DeviceURI quorvanti-out:$out/recibo
State Idle
Accepting Yes
Shared No
</Printer>
<DefaultPrinter a4>
Info Quorvanti test A4 printer
DeviceURI quorvanti-out:$out/a4
State Idle
Accepting Yes
Shared No
</DefaultPrinter>
EOF
}

start() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "cups-test-server: cupsd must be started as root (it runs its back ends as another user); run the tests as root or leave QUORVANTI_TEST_CUPS_SERVER unset" >&2
        exit 1
    fi
    server=
    for candidate in $(command -v cupsd 2>/dev/null) /usr/sbin/cupsd; do
        if [ -x "$candidate" ]; then
            server=$candidate
            break
        fi
    done
    if [ -z "$server" ] || ! command -v lpstat >/dev/null 2>&1; then
        echo "cups-test-server: cupsd or lpstat is missing (scripts/install-deps.sh installs cups and cups-client)" >&2
        exit 1
    fi

    if server_pid >/dev/null && answers; then
        echo "$socket"
        return 0
    fi

    configure
    rm -f "$socket" "$pidfile"
    nohup "$server" -f -c "$conf/cupsd.conf" -s "$conf/cups-files.conf" </dev/null >"$dir/log/cupsd.out" 2>&1 &
    started=$!
    echo "$started" >"$pidfile"

    wait_until_answers "$started" 300 0.1 30 cupsd "$errorlog"
    echo "$socket"
}

ended_while_starting() {
    echo "cups-test-server: cupsd ended while starting; last lines of its logs:" >&2
    tail -n 20 "$dir/log/cupsd.out" "$errorlog" >&2 2>/dev/null || true
    rm -f "$pidfile"
}

stop() {
    pid=$(server_pid) || {
        rm -f "$pidfile"
        return 0
    }
    kill "$pid" 2>/dev/null || true
    wait_until_ended "$pid" 300 0.1 30 cupsd
    rm -f "$pidfile" "$socket"
}

run_command
