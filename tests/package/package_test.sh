#!/usr/bin/env bash
# The Debian package on this machine, as a plant PC gets it: builds it, checks it with lintian,
# installs the same programs as the previous package laid them out (inside the program folder),
# runs the installed station as an operator (a member of mirv and dialout) against meter-sim
# for two record passes, upgrades to the package, checks that the history, the settings, ports/,
# uplink.conf and a changed report template are kept, that the programs moved out of the
# group-writable folder and that polling resumes, that the station's service is installed
# disabled and its program logs as its unit runs it (as mirv, with no session), removes and
# purges it and checks that the database stays. Then it removes everything it made, the kept
# database included. The stations run with minutes of two seconds (MIRV_TEST_MINUTE_MS).
#
# Needs root and dpkg; skipped with a line saying why otherwise, or with MIRV_PACKAGE_TEST=0.
# MIRV_PACKAGE_DEB=FILE tests that package instead of building one (meter-sim is then taken
# from build-package/ as scripts/package.sh left it).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
program=/opt/mirv/station

skip() {
    echo "package test skipped: $*"
    exit 0
}
[ "${MIRV_PACKAGE_TEST:-1}" != 0 ] || skip "MIRV_PACKAGE_TEST=0"
[ "$(id -u)" -eq 0 ] || skip "it installs the package and needs root"
command -v dpkg > /dev/null && command -v apt-get > /dev/null || skip "no dpkg and apt-get here"
# One package test at a time on a machine: they share /opt/mirv, the user mirv and dpkg, and
# one's clean-up would purge what another just installed.
exec 9> /run/lock/mirv-package-test.lock
flock -w 3600 9 || skip "another package test held the machine for an hour"
# What a real installation would own is left alone.
dpkg-query -W mirv-station > /dev/null 2>&1 && skip "dpkg knows mirv-station on this machine"
for path in /opt/mirv /var/lib/mirv-station; do
    [ ! -e "$path" ] || skip "$path exists on this machine"
done
getent group mirv > /dev/null || getent passwd mirv > /dev/null && skip "a user or group mirv exists"
operator=mirvtest$$
getent passwd "$operator" > /dev/null && skip "user $operator exists"

work=$(mktemp -d)
chmod 0755 "$work"
pids=()
touched= # set once the package may have been installed: cleanup purges it and removes mirv
made_operator=

stop() { # PID: ends one program this test started and waits for it
    kill -TERM "$1" 2> /dev/null || true
    wait "$1" 2> /dev/null || true
}
cleanup() {
    local status=$?
    trap - EXIT INT TERM
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do stop "${pids[i]}"; done
    if [ -n "$touched" ]; then
        apt-get -o DPkg::Lock::Timeout=300 purge -y -q mirv-station > /dev/null 2>&1 || true
    fi
    dpkg-statoverride --list "$program" > /dev/null 2>&1 && dpkg-statoverride --remove "$program"
    rm -rf /opt/mirv /var/lib/mirv-station
    [ -z "$made_operator" ] || userdel "$operator" || true
    if [ -n "$touched" ]; then
        getent passwd mirv > /dev/null && userdel mirv
        getent group mirv > /dev/null && groupdel mirv
    fi
    rm -rf "$work"
    [ $status -eq 0 ] && echo "package test passed" || echo "package test FAILED"
    exit $status
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
    echo "package test: $*" >&2
    exit 1
}
# Runs a program as USER with its groups, without a shell or a session in between; started
# with & it replaces the background shell, so $! is the program's own PID.
as_exec() {
    local user=$1
    shift
    exec setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups \
        env HOME="$work/home" XDG_RUNTIME_DIR="$work/home/runtime" QT_QPA_PLATFORM=offscreen "$@"
}
as() { (as_exec "$@"); }
sql() { as "$operator" sqlite3 -readonly "$program/mirv.mdb" "$1"; }
passes() { sql "SELECT count(DISTINCT CreateTime) FROM Historydata"; }
wait_for_passes() { # N SECONDS: until the history holds N record passes
    local deadline=$((SECONDS + $2))
    until [ "$(passes)" -ge "$1" ]; do
        kill -0 "$station" 2> /dev/null || fail "the station ended: $(cat "$work/station.log")"
        [ $SECONDS -lt $deadline ] || fail "no record pass $1 within $2 s"
        sleep 2
    done
}
start_station() {
    # Through the /usr/bin link: the station finds its folder from its own executable.
    as_exec "$operator" MIRV_TEST_MINUTE_MS=2000 /usr/bin/mirv-station >> "$work/station.log" 2>&1 &
    station=$!
    pids+=("$station")
}
mode_of() { stat -c '%U:%G %a' "$1"; }
# DEB VERSION: the package's programs laid out as the previous package had them, in the
# program folder with the /usr/bin links and the units pointing there.
previous_layout() {
    local dir=$work/previous
    dpkg-deb --raw-extract "$1" "$dir"
    mv "$dir"/usr/lib/mirv-station/mirv-* "$dir/opt/mirv/station/"
    rm -r "$dir/usr/lib/mirv-station"
    for p in mirv-station mirv-history mirv-uplink; do
        ln -sfn "/opt/mirv/station/$p" "$dir/usr/bin/$p"
    done
    sed -i 's#/usr/lib/mirv-station/#/opt/mirv/station/#' "$dir"/lib/systemd/system/*.service
    sed -i "s/^Version: .*/Version: $2/" "$dir/DEBIAN/control"
    (cd "$dir" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z |
        xargs -0 md5sum > DEBIAN/md5sums)
    dpkg-deb --root-owner-group --build "$dir" "$work/previous.deb" > /dev/null
    echo "$work/previous.deb"
}

if [ -n "${MIRV_PACKAGE_DEB:-}" ]; then
    deb=$(realpath "$MIRV_PACKAGE_DEB")
else
    echo "package test: building the package (a clean Release build)"
    deb=$("$root/scripts/package.sh" --output-dir "$work" 2> "$work/package.log" | tail -n 1) ||
        fail "scripts/package.sh failed: $(tail -n 40 "$work/package.log")"
fi
version=$(dpkg-deb -f "$deb" Version)
[ "$version" = "$(sed -n 's/^project(mirv_station VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")" ] ||
    fail "package version $version is not the project's"
cp "$root/build-package/tools/meter-sim" "$work/meter-sim"

echo "package test: lintian"
lintian --fail-on error --display-info "$deb" || fail "lintian reports errors"

# Every dependency is installed by scripts/install-deps.sh: the machine gets nothing else.
others=$(apt-get install -s --no-install-recommends "$deb" | sed -n 's/^Inst \([^ ]*\).*/\1/p' |
    grep -vx mirv-station || true)
[ -z "$others" ] || fail "installing would also install: $others (add them to scripts/install-deps.sh)"
touched=1
previous=$(previous_layout "$deb" "$version~previous")
DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 install -y -q --no-install-recommends "$previous" > "$work/apt.log" 2>&1 ||
    fail "installing failed: $(cat "$work/apt.log")"

[ "$(mode_of "$program")" = "root:mirv 2775" ] || fail "program folder is $(mode_of "$program")"
[ "$(mode_of "$program/ports")" = "root:mirv 2775" ] || fail "ports/ is $(mode_of "$program/ports")"
[ "$(mode_of "$program/mirv.mdb")" = "root:mirv 664" ] || fail "mirv.mdb is $(mode_of "$program/mirv.mdb")"
cmp -s "$program/MirvReport.xls" /usr/share/mirv-station/MirvReport.xls || fail "no report template"
for tool in mirv-history mirv-uplink; do
    [ "$("/usr/bin/$tool" --version)" = "$tool $version" ] || fail "$tool --version: $("/usr/bin/$tool" --version)"
    dpkg -L mirv-station | grep -qx "/usr/share/man/man1/$tool.1.gz" || fail "no man page for $tool"
done
useradd --no-create-home --user-group --groups mirv,dialout --shell /usr/sbin/nologin "$operator"
made_operator=1
install -d -o "$operator" -m 0700 "$work/home" "$work/home/runtime"

# The operator sets the line up: a pseudo-terminal as port 1, meters 1 to 3, a pass a minute.
as "$operator" sqlite3 "$program/mirv.mdb" \
    "UPDATE mirve SET timer = '300', minute = '1', com = 1, Settings = '9600', num = '3'"
start_sim() { # USER
    as_exec "$1" "$work/meter-sim" --link "$program/ports/com1" --meters 1-3 >> "$work/sim.log" 2>&1 &
    sim=$!
    pids+=("$sim")
}
start_sim "$operator"
for _ in $(seq 100); do [ -e "$program/ports/com1" ] && break; sleep 0.1; done
[ -e "$program/ports/com1" ] || fail "meter-sim made no port: $(cat "$work/sim.log")"

echo "package test: the installed station, two record passes"
start_station
wait_for_passes 2 240
stop "$station"
rows=$(sql "SELECT count(*) FROM Historydata")
[ "$rows" -ge 6 ] || fail "$rows rows after two passes of three meters"

# The tools through their /usr/bin links work on the folder's database.
csv_lines=$(as "$operator" mirv-history export --from 2000-01-01 --to 2100-01-01 --format csv --output - | wc -l)
[ "$csv_lines" -eq $((rows + 1)) ] || fail "mirv-history exported $csv_lines lines for $rows rows"
uplink_says=$(as mirv mirv-uplink --once 2>&1) && fail "mirv-uplink ran without uplink.conf"
[[ $uplink_says == *"cannot read $program/uplink.conf"* ]] || fail "mirv-uplink looked elsewhere: $uplink_says"
# The shipped timers' commands, run as their units run them (as mirv, into a state folder).
for unit in export backup; do
    command=$(sed -n 's/^ExecStart=//p' "/lib/systemd/system/mirv-history-$unit.service" |
        sed -e 's/\$\$/$/g' -e 's/%%/%/g')
    install -d -o mirv -g mirv "$work/$unit"
    eval "set -- $command"
    as mirv STATE_DIRECTORY="$work/$unit" "$@" || fail "the $unit unit's command failed"
    [ -n "$(ls "$work/$unit")" ] || fail "the $unit unit's command wrote nothing"
done
[ "$(sqlite3 "$work"/backup/*.mdb "SELECT count(*) FROM Historydata")" = "$rows" ] ||
    fail "the backup does not hold the $rows rows"

# What the plant changes and keeps over an upgrade.
settings=$(sql "SELECT * FROM mirve")
as "$operator" sh -c "printf 'station = line-9\nconninfo = host=db.invalid\n' > $program/uplink.conf"
as "$operator" ln -s /dev/null "$program/ports/com9"
as "$operator" sh -c "printf 'changed here' >> $program/MirvReport.xls"
cp "$program/MirvReport.xls" "$work/template"
cp "$program/uplink.conf" "$work/uplink.conf"

echo "package test: upgrading from the previous layout"
DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 install -y -q --no-install-recommends "$deb" > "$work/apt.log" 2>&1 ||
    fail "upgrading failed: $(cat "$work/apt.log")"
[ "$(dpkg-query -W -f='${Version}' mirv-station)" = "$version" ] || fail "not upgraded"
[ "$(sql "SELECT count(*) FROM Historydata")" = "$rows" ] || fail "the upgrade lost history rows"
[ "$(sql "SELECT * FROM mirve")" = "$settings" ] || fail "the upgrade changed the settings row"
cmp -s "$program/uplink.conf" "$work/uplink.conf" || fail "the upgrade changed uplink.conf"
cmp -s "$program/MirvReport.xls" "$work/template" || fail "the upgrade replaced the changed template"
cmp -s "$program/MirvReport.xls.dpkg-dist" /usr/share/mirv-station/MirvReport.xls ||
    fail "the shipped template is not beside the changed one"
[ "$(readlink "$program/ports/com9")" = /dev/null ] && [ -L "$program/ports/com1" ] ||
    fail "the upgrade lost ports/ links"
[ "$(mode_of "$program")" = "root:mirv 2775" ] || fail "program folder is $(mode_of "$program") after the upgrade"
# No member of mirv can change what another user runs: the programs are root's alone, outside
# the group-writable folder, which holds nothing executable.
[ "$(mode_of /usr/lib/mirv-station)" = "root:root 755" ] || fail "/usr/lib/mirv-station is $(mode_of /usr/lib/mirv-station)"
[ "$(cat /usr/lib/mirv-station/station-folder)" = "$program" ] || fail "station-folder does not name $program"
for p in mirv-station mirv-history mirv-uplink; do
    [ "$(mode_of "/usr/lib/mirv-station/$p")" = "root:root 755" ] || fail "$p is $(mode_of "/usr/lib/mirv-station/$p")"
    [ "$(readlink -f "/usr/bin/$p")" = "/usr/lib/mirv-station/$p" ] || fail "/usr/bin/$p leads to $(readlink -f "/usr/bin/$p")"
done
[ -z "$(find "$program" -type f -perm /111)" ] || fail "executables in $program: $(find "$program" -type f -perm /111)"
grep -q '^ExecStart=/usr/lib/mirv-station/mirv-uplink$' /lib/systemd/system/mirv-uplink.service ||
    fail "mirv-uplink.service does not run the installed program"
as "$operator" mv /usr/lib/mirv-station/mirv-uplink "$program/moved" 2> /dev/null && fail "an operator moved mirv-uplink"
csv_lines=$(as "$operator" mirv-history export --from 2000-01-01 --to 2100-01-01 --format csv --output - | wc -l)
[ "$csv_lines" -eq $((rows + 1)) ] || fail "mirv-history exported $csv_lines lines for $rows rows after the upgrade"

echo "package test: polling resumes after the upgrade"
start_station
wait_for_passes $(($(passes) + 1)) 150
stop "$station"

echo "package test: the station's service"
unit=/lib/systemd/system/mirv-station.service
grep -q '^ExecStart=/usr/lib/mirv-station/mirv-stationd$' "$unit" ||
    fail "mirv-station.service does not run the installed service"
[ -z "$(find /etc/systemd/system -name mirv-station.service)" ] || fail "mirv-station.service is enabled"
dpkg -L mirv-station | grep -qx /usr/share/man/man1/mirv-stationd.1.gz || fail "no man page for mirv-stationd"
if command -v systemd-analyze > /dev/null; then
    (cd /lib/systemd/system && systemd-analyze verify mirv-station.service mirv-uplink.service \
        mirv-history-export.timer mirv-history-backup.timer) ||
        fail "systemd-analyze verify finds faults in the units"
fi
# As the unit runs it: as mirv with the group dialout, nothing of a session in its environment.
as_service() {
    exec setpriv --reuid=mirv --regid=mirv \
        --groups "$(getent group mirv | cut -d: -f3),$(getent group dialout | cut -d: -f3)" \
        env -i "$@"
}
says=$(as_service /usr/lib/mirv-station/mirv-stationd --version 2>&1) || fail "mirv-stationd --version failed: $says"
[ "$says" = "mirv-stationd $version" ] || fail "mirv-stationd --version: $says"
# The simulator's terminal is its user's: the service's own user runs it.
stop "$sim"
start_sim mirv
for _ in $(seq 100); do [ -e "$program/ports/com1" ] && break; sleep 0.1; done
before=$(passes)
(as_service MIRV_TEST_MINUTE_MS=2000 $(sed -n 's/^ExecStart=//p' "$unit")) >> "$work/station.log" 2>&1 &
station=$!
pids+=("$station")
wait_for_passes $((before + 1)) 60
kill -TERM "$station"
wait "$station" || fail "the service ended with status $? on SIGTERM: $(cat "$work/station.log")"
rows=$(sql "SELECT count(*) FROM Historydata")

echo "package test: removing and purging"
dpkg --remove mirv-station > "$work/dpkg.log" 2>&1 || fail "removing failed: $(cat "$work/dpkg.log")"
[ ! -e /usr/lib/mirv-station/mirv-station ] && [ ! -e /usr/bin/mirv-history ] || fail "removing left the programs"
apt-get -o DPkg::Lock::Timeout=300 purge -y -q mirv-station > "$work/dpkg.log" 2>&1 || fail "purging failed: $(cat "$work/dpkg.log")"
dpkg-query -W mirv-station > /dev/null 2>&1 && fail "dpkg still knows mirv-station after the purge"
[ "$(sqlite3 -readonly "$program/mirv.mdb" "SELECT count(*) FROM Historydata")" = "$rows" ] ||
    fail "the purge did not keep the database with its $rows rows"
cmp -s "$program/uplink.conf" "$work/uplink.conf" || fail "the purge removed uplink.conf"
