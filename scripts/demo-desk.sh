#!/usr/bin/env bash
# Lays out a demo desk in the folder given: the program beside its own
# Config.mdb (account demo/demo, three users of whom two are on duty), two
# watched MT4 folders, and the modem simulator on a pseudo-terminal bound as
# COM1, which records every SMS it accepts in sms-sent.txt. Sourced by the
# demo and the screenshot scripts, with $build the build folder; the
# simulator's process is added to the caller's $pids.
desk=$1
rm -rf "$desk"
mkdir -p "$desk/terminal-1" "$desk/terminal-2"
cp "$build/bin/vantrel" "$desk/"
"$build/bin/vantrel-setup" "$desk" --port 1 --baud 9600 \
    --account demo:demo:1 \
    --user "Desk One:+15550001:on" --user "Desk Two:+15550002:on" --user "Night Desk:+15550003" \
    --path "$desk/terminal-1" --path "$desk/terminal-2" >/dev/null

"$build/bin/vantrel-modemsim" --folder "$desk" --port 1 --record "$desk/sms-sent.txt" \
    > "$desk/modemsim.ready" 2> >(sed -u 's/^/[modem] /' > "${DESK_MODEM_LOG:-/dev/stderr}") &
pids+=($!)
for _ in $(seq 50); do grep -q '^ready' "$desk/modemsim.ready" 2>/dev/null && break; sleep 0.1; done
if ! grep -q '^ready' "$desk/modemsim.ready"; then
    echo "the modem simulator did not start" >&2
    exit 1
fi
