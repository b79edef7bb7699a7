#!/bin/sh
# A private MariaDB server for the test suites: its own data folder, a Unix socket and no TCP port, so it
# never meets a server of the machine. Table names are compared without regard to case
# (lower_case_table_names=1), as the monitor's statements require.
#
#   scripts/mariadb-test-server.sh start DIR   initialise DIR (first time), start the server, create the
#                                              database quorvanti_test and the user quorvanti (password
#                                              quorvanti-test, every right), print the socket path
#   scripts/mariadb-test-server.sh stop DIR    shut the server down
#
# Both are idempotent. Tests read the socket path from QUORVANTI_TEST_MYSQL_SOCKET.
set -eu

name=mariadb-test-server
# shellcheck source=scripts/test-server-common.sh
. "$(dirname "$0")/test-server-common.sh"
read_arguments "$@"
data=$dir/data
socket=$dir/mysqld.sock
pidfile=$dir/mysqld.pid
errorlog=$dir/error.log
check_socket_length "$socket"

find_program() {
    for program in "$@"; do
        for candidate in $(command -v "$program" 2>/dev/null) /usr/sbin/"$program" /usr/bin/"$program"; do
            if [ -x "$candidate" ]; then
                echo "$candidate"
                return 0
            fi
        done
    done
    echo "mariadb-test-server: none of $* is installed (scripts/install-deps.sh installs mariadb-server)" >&2
    exit 1
}

answers() {
    "$admin" --no-defaults --socket="$socket" --user=root --connect-timeout=2 ping >/dev/null 2>&1
}

start() {
    server=$(find_program mariadbd mysqld)
    install_db=$(find_program mariadb-install-db mysql_install_db)
    client=$(find_program mariadb mysql)

    if server_pid >/dev/null && answers; then
        echo "$socket"
        return 0
    fi

    user_option=
    if [ "$(id -u)" -eq 0 ]; then
        user_option=--user=root
    fi

    if [ ! -d "$data/mysql" ]; then
        rm -rf "$data"
        mkdir -p "$data"
        if ! "$install_db" --no-defaults --auth-root-authentication-method=normal \
            --datadir="$data" --skip-test-db --lower-case-table-names=1 $user_option \
            >"$dir/install.log" 2>&1; then
            echo "mariadb-test-server: initialisation failed; see $dir/install.log" >&2
            tail -n 20 "$dir/install.log" >&2
            exit 1
        fi
    fi

    rm -f "$socket" "$pidfile"
    # Small buffers: the machine is shared and the test databases are tiny. Nothing here needs to
    # survive a crash, so the server skips its syncs and InnoDB keeps the many short-lived test tables
    # in the system tablespace: creating and dropping a test database then takes milliseconds.
    nohup "$server" --no-defaults $user_option \
        --datadir="$data" --socket="$socket" --pid-file="$pidfile" --log-error="$errorlog" \
        --skip-networking --lower-case-table-names=1 \
        --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci \
        --innodb-buffer-pool-size=32M --innodb-log-file-size=16M --max-connections=100 \
        --innodb-flush-log-at-trx-commit=0 --innodb-doublewrite=0 --innodb-file-per-table=0 \
        --innodb-flush-method=nosync --debug-no-sync \
        </dev/null >/dev/null 2>&1 &
    started=$!

    wait_until_answers "$started" 120 0.5 60 "the server" "$errorlog"

    "$client" --no-defaults --socket="$socket" --user=root <<'SQL'
CREATE DATABASE IF NOT EXISTS quorvanti_test CHARACTER SET utf8mb4;
CREATE USER IF NOT EXISTS 'quorvanti'@'localhost' IDENTIFIED BY 'quorvanti-test';
GRANT ALL PRIVILEGES ON *.* TO 'quorvanti'@'localhost';
FLUSH PRIVILEGES;
SQL
    echo "$socket"
}

stop() {
    pid=$(server_pid) || {
        rm -f "$pidfile"
        return 0
    }
    "$admin" --no-defaults --socket="$socket" --user=root shutdown >/dev/null 2>&1 || kill "$pid" 2>/dev/null || true
    wait_until_ended "$pid" 120 0.5 60 "the server"
    rm -f "$pidfile"
}

ended_while_starting() {
    echo "mariadb-test-server: the server ended while starting; last lines of $errorlog:" >&2
    tail -n 20 "$errorlog" >&2 || true
}

admin=$(find_program mariadb-admin mysqladmin)
run_command
