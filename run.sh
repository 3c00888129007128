#!/usr/bin/env bash
# Installs what is missing, builds, and starts the station on a demo folder of its own (demo/)
# against simulated meters on a pseudo-terminal: meters 1 to 5 of today's kind (meter 4 silent,
# meter 2 reporting alarms) and, on board row 6, a meter of another kind at address 17 (the
# Meters table names its profile; it and meter 1 have names, which the board, the tabs and the
# energy table show beside their numbers). The station runs as a service (mirv-stationd) and
# the window attaches to it; the 报警事件 tab shows the silent meter's and the alarms' journal.
# While it runs, `echo 'silent 3' > demo/sim-control` silences meter 3 (`answer 3` lets it
# answer again, `alarm 3:empty-pipe` or `alarm 3:none` sets its alarm flags), and the tab shows
# the begin and the end. Without a display it runs under Xvfb and keeps a screenshot of the
# window up to date. Ctrl-C ends everything it started.
#
# ./run.sh --gateway tcp|modbus-tcp runs the same demo through a simulated RS-485 gateway on
# 127.0.0.1 instead: ports/com1 is then a file naming it.
# ./run.sh --mqtt also starts a mosquitto broker of the demo's own on 127.0.0.1 (port
# MIRV_DEMO_MQTT_PORT, default 18830) that the station publishes to, and prints the journal's
# events as they come on demo/events; killing the broker (its PID is printed) shows the
# message line saying so until it is started again (the events meanwhile follow then).
set -euo pipefail
cd "$(dirname "$0")"
gateway=
mqtt=
usage() {
    echo "usage: $0 [--gateway tcp|modbus-tcp] [--mqtt]" >&2
    exit 2
}
while [ $# -gt 0 ]; do
    case $1 in
    --gateway)
        { [ $# -ge 2 ] && { [ "$2" = tcp ] || [ "$2" = modbus-tcp ]; }; } || usage
        gateway=$2
        shift 2
        ;;
    --mqtt)
        mqtt=1
        shift
        ;;
    *) usage ;;
    esac
done
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# What the demo runs and the program folder holds (mirv-uplink among them); the tests and
# benchmarks build with ./test.sh.
targets=(mirv-station mirv-stationd meter-sim make-database mirv-history mirv-uplink program-folder
         meter-profiles)
# The report template target exists when LibreOffice was found to convert it.
[[ $(cmake --build build --target help) == *report-template* ]] && targets+=(report-template)
cmake --build build -j"$(nproc)" --target "${targets[@]}"

demo=$PWD/demo
mkdir -p "$demo/ports"
# The station's folder is the folder of its executable, so the demo gets its own copy and
# never touches build/station/mirv.mdb.
cp -f build/station/mirv-station build/station/mirv-stationd "$demo/"
mkdir -p "$demo/profiles"
cp -f build/station/profiles/*.json "$demo/profiles/"
for f in build/station/MirvReport.xls; do [ -f "$f" ] && cp -f "$f" "$demo/"; done
[ -f "$demo/mirv.mdb" ] || build/tools/make-database data/schema.sql "$demo/mirv.mdb"
# An older demo database gets the tables this build adds (Meters among them) from the service.
sqlite3 "$demo/mirv.mdb" "UPDATE mirve SET timer = '300', minute = '1', com = 1, Settings = '9600', num = '6'
                          WHERE rowid = (SELECT rowid FROM mirve LIMIT 1);
                          CREATE TABLE IF NOT EXISTS Meters (Row INTEGER PRIMARY KEY, Address INTEGER NOT NULL,
                              Profile TEXT NOT NULL, Name TEXT, Polled INTEGER NOT NULL DEFAULT 1);
                          INSERT OR REPLACE INTO Meters (Row, Address, Profile, Name)
                              VALUES (1, 1, 'default', '锅炉房'), (6, 17, 'two-blocks', '二号换热站');"

pids=()
cleanup() {
    trap - EXIT INT TERM
    # Newest first: the station before the display and the line it uses.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM

meters=(--meters 1-5 --meter 17:two-blocks --profiles "$demo/profiles" --fault 4:silent
        --alarm 2:excite+upper --pace --control "$demo/sim-control")
if [ -n "$gateway" ]; then
    address=127.0.0.1:${MIRV_DEMO_GATEWAY_PORT:-15020}
    rm -f "$demo/ports/com1"
    echo "$gateway://$address" > "$demo/ports/com1"
    build/tools/meter-sim "--$gateway-listen" "$address" "${meters[@]}" &
    pids+=($!)
else
    build/tools/meter-sim --link "$demo/ports/com1" "${meters[@]}" &
    pids+=($!)
    for _ in $(seq 50); do [ -e "$demo/ports/com1" ] && break; sleep 0.1; done
fi

if [ -z "${DISPLAY:-}" ]; then
    # The server takes the first free display number and writes it once it is ready: a number
    # picked here could belong to another X server already.
    numberfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1200x600x24 -nolisten tcp 3>"$numberfile" &
    pids+=($!)
    for _ in $(seq 100); do [ -s "$numberfile" ] && break; sleep 0.1; done
    display=:$(head -n 1 "$numberfile")
    rm -f "$numberfile"
    [ "$display" != : ] || { echo "Xvfb did not start" >&2; exit 1; }
    export DISPLAY=$display
    shot=$demo/screenshot.png
    echo "No display: the station runs under Xvfb on $display; its screenshot is rewritten every 3 s at $shot"
    ( while sleep 3; do import -window root "$shot.tmp.png" 2>/dev/null && mv -f "$shot.tmp.png" "$shot"; done ) &
    pids+=($!)
fi

# mqtt.conf is the demo's own only when --mqtt wrote it.
mqttmark='# written by ./run.sh --mqtt'
if [ -f "$demo/mqtt.conf" ] && [ "$(head -n 1 "$demo/mqtt.conf")" = "$mqttmark" ]; then
    rm -f "$demo/mqtt.conf"
fi
if [ -n "$mqtt" ]; then
    mqttport=${MIRV_DEMO_MQTT_PORT:-18830}
    printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n' "$mqttport" \
        > "$demo/mosquitto.conf"
    mosquitto -c "$demo/mosquitto.conf" 2>/dev/null &
    pids+=($!)
    echo "MQTT broker on 127.0.0.1:$mqttport, PID $!: kill it to see the message line say so;" \
        "mosquitto -c $demo/mosquitto.conf starts it again"
    for _ in $(seq 50); do
        mosquitto_pub -h 127.0.0.1 -p "$mqttport" -t demo/ready -n 2>/dev/null && break
        sleep 0.1
    done
    printf '%s\nhost = 127.0.0.1\nport = %s\nprefix = demo\n' "$mqttmark" "$mqttport" \
        > "$demo/mqtt.conf"
    mosquitto_sub -h 127.0.0.1 -p "$mqttport" -v -t demo/events &
    pids+=($!)
fi

# The service logs whether or not a window is open; the window attaches to it.
"$demo/mirv-stationd" &
pids+=($!)
service=$!
for _ in $(seq 100); do [ -S "$demo/mirv-station.sock" ] && break; sleep 0.1; done
echo "The service runs as PID $service: kill -STOP $service and the window says within 4 s that it is lost; kill -CONT $service and it attaches again"
"$demo/mirv-station" &
pids+=($!)
wait "$service"
