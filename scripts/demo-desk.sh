#!/usr/bin/env bash
# Lays out a demo desk in the folder given: the program beside its own
# Config.mdb (account demo/demo, three users of whom two are on duty), two
# watched MT4 folders, and two modems sharing the load: the modem simulator
# on pseudo-terminals bound as COM1 and COM2, which record every SMS they
# accept in sms-sent.txt. Sourced by the demo and the screenshot scripts,
# with $build the build folder; the simulators' processes are added to the
# caller's $pids.
desk=$1
rm -rf "$desk"
mkdir -p "$desk/terminal-1" "$desk/terminal-2"
cp "$build/bin/vantrel" "$desk/"
"$build/bin/vantrel-setup" "$desk" --port 1 --baud 9600 \
    --account demo:demo:1 \
    --user "Desk One:+15550100:on" --user "Desk Two:+15550200:on" --user "Night Desk:+15550300" \
    --path "$desk/terminal-1" --path "$desk/terminal-2" --add-modem 2:9600 >/dev/null

# With DEMO_GATEWAY set the desk sends through a Kannel instead (see
# demo-kannel.sh) and no simulator is started.
if [ -n "${DEMO_GATEWAY:-}" ]; then
    return 0
fi

# A simulator's log, each line marked with its modem and written whole, so
# that the two modems' lines never run into each other: to $DESK_MODEM_LOG
# when set, else to the caller's standard error.
modem_log() {
    local line
    if [ -n "${DESK_MODEM_LOG:-}" ]; then
        exec >> "$DESK_MODEM_LOG"
    else
        exec >&2
    fi
    while IFS= read -r line; do printf '%s%s\n' "$1" "$line"; done
}

# Each answer of a simulated modem takes a little while, as a network's
# would, so that both modems are seen at work; the phones confirm each SMS
# three seconds after it went. Each takes commands in modemN.control, such
# as "unplug" to pull it and "plug" to put it back. Each runs in a session
# of its own, so that the Ctrl-C that ends the demo does not end the modems
# before the program.
for port in 1 2; do
    setsid "$build/bin/vantrel-modemsim" --folder "$desk" --port $port --record "$desk/sms-sent.txt" --delay 300 --report-delay 3000 \
        --control "$desk/modem$port.control" \
        > "$desk/modemsim$port.ready" 2> >(modem_log "[modem COM$port] ") &
    pids+=($!)
done
for port in 1 2; do
    for _ in $(seq 50); do grep -q '^ready' "$desk/modemsim$port.ready" 2>/dev/null && break; sleep 0.1; done
    if ! grep -q '^ready' "$desk/modemsim$port.ready"; then
        echo "the modem simulator on COM$port did not start" >&2
        exit 1
    fi
done
