# Shared by scripts/cups-test-server.sh and scripts/mariadb-test-server.sh (sourced, not run): the
# arguments, the pid check and the waits for a private test server to answer and to end.
# The sourcing script sets `name` (the prefix of its messages) first and defines `answers` (true once
# the server serves requests) before it calls wait_until_answers.

usage() {
    echo "usage: $0 start|stop DIR" >&2
    exit 2
}

# Sets command and dir (absolute, created when missing) from the script's arguments.
read_arguments() {
    [ $# -eq 2 ] || usage
    command=$1
    case "$command" in start | stop) ;; *) usage ;; esac
    mkdir -p "$2"
    dir=$(cd "$2" && pwd)
}

# A Unix socket path is limited to 107 bytes.
check_socket_length() {
    if [ ${#1} -gt 100 ]; then
        echo "$name: $1 is too long for a socket path; use a shorter DIR" >&2
        exit 1
    fi
}

server_pid() {
    [ -s "$pidfile" ] || return 1
    pid=$(cat "$pidfile")
    kill -0 "$pid" 2>/dev/null || return 1
    echo "$pid"
}

# wait_until_answers PID TRIES STEP SECONDS WHAT LOG: polls `answers` every STEP seconds, at most TRIES
# times (SECONDS in all, for the message). When PID ends first, `ended_while_starting` (the sourcing
# script's) reports it.
wait_until_answers() {
    tries=0
    until answers; do
        if ! kill -0 "$1" 2>/dev/null; then
            ended_while_starting
            exit 1
        fi
        tries=$((tries + 1))
        if [ "$tries" -gt "$2" ]; then
            echo "$name: $5 did not answer within $4 s; see $6" >&2
            exit 1
        fi
        sleep "$3"
    done
}

# wait_until_ended PID TRIES STEP SECONDS WHAT: waits for PID to end after it was asked to; past the
# time it is stopped by force.
wait_until_ended() {
    tries=0
    while kill -0 "$1" 2>/dev/null; do
        tries=$((tries + 1))
        if [ "$tries" -gt "$2" ]; then
            echo "$name: $5 did not stop within $4 s; killing it" >&2
            kill -9 "$1" 2>/dev/null || true
            break
        fi
        sleep "$3"
    done
}

run_command() {
    case "$command" in
        start) start ;;
        stop) stop ;;
        *) usage ;;
    esac
}
