# Steps shared by the scripts that drive the player on a virtual X display. Sourced after the
# script has set $log (the player's log); $pid, when set, is the player to kill on failure.

# Prints why the check failed and the end of the player's log, kills the player, exits 1.
fail() {
    echo "FAIL: $*"
    echo "--- last lines of the player's log:"
    tail -n 40 "$log" 2>/dev/null
    [ -n "${pid:-}" ] && kill -9 "$pid" 2>/dev/null
    exit 1
}

# Waits until the command succeeds: polls every 0.2 s for at most $1 seconds.
wait_for() {
    local limit=$1
    shift
    local end=$((SECONDS + limit))
    until "$@"; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.2
    done
}

# Readies this process to start the player on the virtual display: waits until the display
# answers, lifts the test suite's offscreen driver so the player draws there, gives it temporary
# folders under $1, and turns off leak checks (GL drivers keep allocations to the end of the
# process; leaks are not what these scripts look for).
player_on_virtual_display() {
    wait_for 60 xdotool getdisplaygeometry >/dev/null 2>&1 || fail "the virtual display never answered"
    unset SDL_VIDEODRIVER
    export TMPDIR=$1/tmp
    mkdir -p "$TMPDIR"
    export ASAN_OPTIONS=${ASAN_OPTIONS:-}:detect_leaks=0
}
