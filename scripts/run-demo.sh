#!/usr/bin/env bash
# Builds Vantrel and runs it on a demo folder: its own Config.mdb, two
# watched MT4 folders, a robot that writes alerts into them, and the bundled
# GSM modem simulator on two pseudo-terminals bound as COM1 and COM2, two
# modems that share the load. With --gateway the desk sends through a local
# Kannel and its fake SMS centre instead, and no modem is used. With --flood
# a second robot in a loop writes the same alert five times a second: the
# page log shows its repeats collapsed and the robot named, while the first
# robot's alerts go through. With --escalate an alert nobody acknowledges
# within 2 minutes is escalated: calls through the modems, then Night Desk.
# Without a display it runs under Xvfb and logs in by itself; what happens
# shows in this terminal. Ctrl-C ends it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build
demo=$build/demo

"$top/scripts/setup-machine.sh"
"$top/scripts/build.sh" "$build"

pids=()
# Last started, first ended, each in turn: the program finishes the
# dialogue under way and ends before its display and its modems go.
cleanup() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
}
trap cleanup EXIT
trap 'exit 0' INT TERM

# A fresh demo folder every run: the program lives in it, as it would
# beside its Config.mdb on a trading desk.
pkill -f "$demo/vantrel" 2>/dev/null || true
flood=
escalate=
for argument in "$@"; do
    case $argument in
        --gateway) export DEMO_GATEWAY=1 ;;
        --flood) flood=1 ;;
        --escalate) escalate=1 ;;
        *) echo "usage: $0 [--gateway] [--flood] [--escalate]" >&2; exit 2 ;;
    esac
done
source "$top/scripts/demo-desk.sh" "$demo"
# Alerts nobody acknowledges within 2 minutes: the on-duty phones called,
# then Night Desk.
if [ -n "$escalate" ]; then
    "$build/bin/vantrel-setup" "$demo" --escalate 2 --escalation "Night Desk" >/dev/null
fi
if [ -n "${DEMO_GATEWAY:-}" ]; then
    source "$top/scripts/demo-kannel.sh" "$demo"
fi

# The robot: an alert line every few seconds, now in one terminal's folder,
# now in the other's.
(
    n=0
    while sleep 7; do
        n=$((n + 1))
        folder=$demo/terminal-$(( (n % 2) + 1 ))
        printf 'ALERT|%s|GoldScalper|Price alert|XAUUSD crossed %d.%02d (alert %d)\r\n' \
            "$(date +%H:%M:%S)" $((1900 + n)) $((n * 7 % 100)) "$n" >> "$folder/Sms.csv"
        echo "[robot] alert $n written to $folder/Sms.csv"
    done
) &
pids+=($!)

# The robot in a loop: the same alert, only its time changing.
if [ -n "$flood" ]; then
    (
        sleep 10
        echo "[looper] writing the same alert five times a second into $demo/terminal-1/Sms.csv"
        while sleep 0.2; do
            printf 'ALERT|%s|LoopBot|Cross|EURUSD crossed 1.1000\r\n' "$(date +%H:%M:%S)" >> "$demo/terminal-1/Sms.csv"
        done
    ) &
    pids+=($!)
fi

echo
echo "Demo folder: $demo"
echo "Log in with user name: demo   password: demo"
if [ -n "${DEMO_GATEWAY:-}" ]; then
    echo "SMS go through Kannel on 127.0.0.1:14013; its fake SMS centre logs them in $demo/kannel/fakesmsc.log"
else
    echo "Sent SMS are recorded in $demo/sms-sent.txt"
    echo "Pull the modem on COM2 with: echo unplug > $demo/modem2.control   (and plug it back with: echo plug > ...)"
    echo "A trader answers: echo \"sms +15550100 OK\" > $demo/modem1.control   (or rings: echo \"ring +15550100\" > ...)"
fi
echo

if [ -n "${DISPLAY:-}" ]; then
    "$demo/vantrel"
else
    echo "No display: running under Xvfb and logging in by itself."
    # In a session of its own, out of reach of the Ctrl-C meant for this
    # script: an X server takes that signal itself.
    setsid Xvfb :77 -screen 0 1024x768x24 >/dev/null 2>&1 &
    pids+=($!)
    export DISPLAY=:77
    sleep 1
    "$demo/vantrel" &
    app=$!
    pids+=($app)
    if xdotool search --sync --name '^Log In$' windowfocus --sync >/dev/null 2>&1; then
        xdotool type --delay 30 demo
        xdotool key Tab
        xdotool type --delay 30 demo
        xdotool key Return
        echo "[demo] logged in as demo"
    fi
    wait "$app"
fi
