#!/usr/bin/env bash
# Starts a Kannel of the demo's own in the folder given, on loopback ports
# that Debian's own Kannel does not use: bearerbox with a fake SMS centre,
# smsbox with its sendsms interface on 14013, and Kannel's fakesmsc as the
# phone network, which logs every SMS it gets to fakesmsc.log. Then points
# the demo desk at it, alone: no modem is used. Sourced by the demo, with
# $build the build folder; the processes are added to the caller's $pids.
desk=$1
kannel=$desk/kannel
mkdir -p "$kannel"
cat >"$kannel/kannel.conf" <<CONF
group = core
admin-port = 14000
admin-password = demo-admin
admin-allow-ip = 127.0.0.1
smsbox-port = 14001
box-allow-ip = 127.0.0.1
dlr-storage = internal
store-type = file
store-location = "$kannel/store"
log-file = "$kannel/bearerbox.log"

group = smsc
smsc = fake
smsc-id = fake
host = 127.0.0.1
port = 14010
connect-allow-ip = 127.0.0.1

group = smsbox
bearerbox-host = 127.0.0.1
sendsms-port = 14013
sendsms-interface = 127.0.0.1
log-file = "$kannel/smsbox.log"

group = sendsms-user
username = vantrel
password = demo-sms
concatenation = true
max-messages = 10
CONF
: >"$kannel/store"
# Each in a session of its own, out of reach of the demo's Ctrl-C: the
# demo ends the program first, then them.
setsid /usr/sbin/bearerbox "$kannel/kannel.conf" >"$kannel/bearerbox.out" 2>&1 &
pids+=($!)
sleep 1
setsid /usr/sbin/smsbox "$kannel/kannel.conf" >"$kannel/smsbox.out" 2>&1 &
pids+=($!)
# fakesmsc sends nothing of its own (-m 0) and logs what reaches it.
setsid /usr/lib/kannel/test/fakesmsc -H 127.0.0.1 -r 14010 -m 0 "0 0 text unused" </dev/null >"$kannel/fakesmsc.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
    (exec 3<>/dev/tcp/127.0.0.1/14013) 2>/dev/null && break
    sleep 0.2
done
"$build/bin/vantrel-setup" "$desk" --gateway "http://127.0.0.1:14013/cgi-bin/sendsms?username=vantrel&password=demo-sms" \
    --gateway-only --gateway-reports 127.0.0.1:14080 >/dev/null
