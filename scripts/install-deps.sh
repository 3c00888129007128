#!/usr/bin/env bash
# Installs the Debian packages the station, its tools and its tests need. Quick when all are there.
set -euo pipefail
packages=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-serialport-dev libgl-dev
    qt6-translations-l10n
    qt6-charts-dev libqt6opengl6-dev  # Qt6Charts' CMake package needs Qt6OpenGL's
    libsqlite3-dev sqlite3
    libxlsxwriter-dev libcli11-dev nlohmann-json3-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libmodbus-dev socat
    mbpoll python3-pymodbus python3-serial-asyncio  # independent Modbus TCP masters for the tests
    xvfb xauth imagemagick fonts-wqy-zenhei
    xdotool python3-pyatspi at-spi2-core dbus  # the tests on a real X screen and its AT-SPI bus
    libreoffice-calc libreoffice-dev
    postgresql libpq-dev tzdata pgbouncer
    libmosquitto-dev mosquitto mosquitto-clients  # the MQTT publisher; the broker for its tests
    libcurl4-openssl-dev  # e-mail notices over SMTP with TLS
    python3-aiosmtpd openssl  # the SMTP sink and its certificate in the notices' tests
    libcpp-httplib-dev libsodium-dev libjs-chart.js  # the web pages: server, password hashes, charts
    chromium python3-websocket  # the web pages' tests in a real browser
    # scripts/package.sh and its test; qt6-qpa-plugins is what the package needs at run time
    # beyond the libraries above
    dpkg-dev lintian help2man librsvg2-bin qt6-qpa-plugins
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
if ! "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=300 install -y --no-install-recommends "${missing[@]}"; then
    "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=300 update
    "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=300 install -y --no-install-recommends "${missing[@]}"
fi
