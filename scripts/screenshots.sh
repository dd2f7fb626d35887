#!/usr/bin/env bash
# Makes the pictures in docs/ from the real program: builds Vantrel, runs it
# on a demo folder of its own (as scripts/run-demo.sh does: Config.mdb, two
# watched folders, the modem simulator as COM1, a robot writing alerts)
# under Xvfb, and works it as a person would with xdotool: logs in, lets a
# few alerts through, opens the menus, the Settings pages, the Alerts window
# and the About box.
# Each window is grabbed with ImageMagick's import.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build
demo=$build/screens
docs=$top/docs

"$top/scripts/setup-machine.sh"
"$top/scripts/build.sh" "$build"

mkdir -p "$docs"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT

fail() {
    echo "screenshots: $*" >&2
    exit 1
}

DESK_MODEM_LOG=$demo/modemsim.log source "$top/scripts/demo-desk.sh" "$demo"

# A screen of its own at 96 dpi, the resolution the windows are laid out for;
# Xvfb picks a free display number and tells it.
Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp 3>"$demo/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$demo/display" ] && break; sleep 0.1; done
[ -s "$demo/display" ] || fail "Xvfb did not start"
export DISPLAY=:$(head -n 1 "$demo/display")
unset QT_QPA_PLATFORM
# A window manager draws the captions and borders a person sees.
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1

# Waits for the window titled exactly $1 and prints its id.
window() {
    timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1
}

# Saves window $1 as docs/$2.png.
grab() {
    sleep 0.5 # the last repaint
    import -frame -window "$1" "$docs/$2.png"
    echo "docs/$2.png"
}

# Clicks at $2,$3 inside window $1.
click() {
    xdotool mousemove --window "$1" "$2" "$3" click 1
    sleep 0.3
}

# Opens the main window's menu $2 places right of File and picks its item
# $3 (the first when not given): File's title is the first thing in the menu
# bar whatever the font, and a menu reached with the arrow keys opens with
# its first item chosen.
menu() {
    click "$1" 12 10
    for _ in $(seq "$2"); do xdotool key Right; done
    for _ in $(seq 2 "${3:-1}"); do xdotool key Down; done
    xdotool key Return
}

# Waits until the modem simulator has recorded $1 messages.
sms_sent() {
    for _ in $(seq 100); do
        [ "$(cat "$demo/sms-sent.txt" 2>/dev/null | wc -l)" -ge "$1" ] && return
        sleep 0.2
    done
    fail "fewer than $1 SMS reached the modem"
}

(cd "$demo" && exec ./vantrel >"$demo/vantrel.log" 2>&1) &
pids+=($!)

login=$(window "Log In") || fail "no login window"
xdotool windowfocus --sync "$login"
xdotool type --delay 20 demo
xdotool key Tab
xdotool type --delay 20 demo
grab "$login" login
xdotool key Return

main=$(window Vantrel) || fail "no main window after logging in"

# Three alerts from the robots, each sent to the two users on duty.
for n in 1 2 3; do
    printf 'ALERT|10:1%d:02|GoldScalper|Price alert|XAUUSD crossed 19%d5.20\r\n' "$n" "$n" \
        >> "$demo/terminal-$(( (n % 2) + 1 ))/Sms.csv"
    sms_sent $((n * 2))
done
grab "$main" main-window

# Options > Settings opens on "MT4 Path List".
menu "$main" 1
settings=$(window Settings) || fail "no Settings window"
grab "$settings" settings-paths

# The tab strip starts at 8,8; the tabs are as wide as their captions.
click "$settings" 45 20
grab "$settings" settings-com
click "$settings" 120 20
grab "$settings" settings-users
click "$settings" 290 20

# A test message: number, text, SEND; the trace fills beside it.
click "$settings" 180 92
xdotool type --delay 10 "+15550009"
click "$settings" 180 150
xdotool type --delay 10 "Test from Vantrel"
click "$settings" 192 268
sms_sent 7
grab "$settings" settings-test-message
xdotool key Escape

# Options > Modems... lists both modems with their state.
menu "$main" 1 2
modems=$(window Modems) || fail "no Modems window"
grab "$modems" modems
xdotool key Escape

# Options > Alerts...: the three alerts newest first, the newest selected
# with its two SMS, delivered once the simulated phones have said so.
sleep 4
menu "$main" 1 3
alerts=$(window Alerts) || fail "no Alerts window"
grab "$alerts" alerts-window
xdotool key Escape

# Help > About.
menu "$main" 2
about=$(window "About Vantrel") || fail "no About box"
grab "$about" about
xdotool key Return
