#!/usr/bin/env bash
# gateway_soak.sh [MINUTES] [BUILD]: the built station polls 20 simulated meters at 9600 baud
# (the simulator answering at the line's pace) for MINUTES (default 10), once on a
# pseudo-terminal, once through a simulated gateway as RTU over TCP and once as Modbus TCP, all
# three at the same time, each logging every minute. Then it compares their history: record
# passes, rows per pass, empty cells and the rows' texts apart from the changing readings.
set -euo pipefail
minutes=${1:-10}
build=${2:-build}
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/mirv-gateway-soak-XXXXXX")
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM
port=$((20000 + RANDOM % 20000))
for form in serial tcp modbus-tcp; do
    dir=$work/$form
    mkdir -p "$dir/ports"
    cp "$here/$build/station/mirv-station" "$dir/"
    "$here/$build/tools/make-database" "$here/data/schema.sql" "$dir/mirv.mdb"
    sqlite3 "$dir/mirv.mdb" "UPDATE mirve SET timer = '300', minute = '1', com = 1, Settings = '9600', num = '20'"
    sim=("$here/$build/tools/meter-sim" --meters 1-20 --alarm 7:upper --pace --baud 9600)
    if [ "$form" = serial ]; then
        "${sim[@]}" --link "$dir/ports/com1" 2>"$dir/sim.log" &
        pids+=($!)
        for _ in $(seq 50); do [ -e "$dir/ports/com1" ] && break; sleep 0.1; done
    else
        port=$((port + 1))
        echo "$form://127.0.0.1:$port" > "$dir/ports/com1"
        "${sim[@]}" "--$form-listen" "127.0.0.1:$port" 2>"$dir/sim.log" &
        pids+=($!)
    fi
    QT_QPA_PLATFORM=offscreen "$dir/mirv-station" 2>"$dir/station.log" &
    pids+=($!)
done
echo "polling for $minutes minutes in $work"
sleep $((minutes * 60 + 5))
cleanup
pids=()

for form in serial tcp modbus-tcp; do
    db=$work/$form/mirv.mdb
    sqlite3 -separator ' ' "$db" "
        SELECT '$form:', count(DISTINCT CreateTime) || ' passes,', count(*) || ' rows,',
               (SELECT min(c) FROM (SELECT count(*) c FROM Historydata GROUP BY CreateTime)) || ' to',
               (SELECT max(c) FROM (SELECT count(*) c FROM Historydata GROUP BY CreateTime)) || ' meters a pass,',
               sum(MinuteAverage = '' OR Foward = '' OR Reverse = '' OR TXTleijire_z = '') || ' rows with empty cells'
        FROM Historydata"
    # The texts that do not change between the runs: meter, reverse and cold totals, alarms.
    sqlite3 "$db" "SELECT MeterID, Reverse, TXTleijileng_z, Alarmstatus FROM Historydata
                   GROUP BY MeterID ORDER BY CAST(MeterID AS INTEGER)" > "$work/$form.steady"
done
for form in tcp modbus-tcp; do
    if cmp -s "$work/serial.steady" "$work/$form.steady"; then
        echo "$form: the steady texts of every meter equal the serial line's"
    else
        echo "$form: the steady texts differ from the serial line's:"
        diff "$work/serial.steady" "$work/$form.steady" || true
    fi
done
