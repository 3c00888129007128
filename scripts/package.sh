#!/usr/bin/env bash
# Builds mirv-station_<version>_amd64.deb from a clean Release build in a build folder of its
# own. The version is the project's (project() in CMakeLists.txt).
#
#   scripts/package.sh [--build-dir DIR] [--output-dir DIR] [--no-clean]
#   scripts/package.sh --repack DEB --version VERSION [--output-dir DIR]
#
# --no-clean builds on in the build folder instead of starting afresh (a developer's shortcut).
# --repack gives an existing package another version without building again (its programs
# still print the version they were built with): for trying upgrades.
set -euo pipefail
umask 022
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-package
out=$PWD
repack= version= clean=1
while [ $# -gt 0 ]; do
    case $1 in
    --build-dir) build=$(realpath -m "$2"); shift 2 ;;
    --output-dir) out=$(realpath -m "$2"); shift 2 ;;
    --repack) repack=$(realpath "$2"); shift 2 ;;
    --version) version=$2; shift 2 ;;
    --no-clean) clean=; shift ;;
    *) echo "usage: $0 [--build-dir DIR] [--output-dir DIR] | --repack DEB --version VERSION" >&2; exit 2 ;;
    esac
done
mkdir -p "$out"

if [ -n "$repack" ]; then
    [ -n "$version" ] || { echo "$0: --repack needs --version" >&2; exit 2; }
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    dpkg-deb --raw-extract "$repack" "$work/pkg"
    sed -i "s/^Version: .*/Version: $version/" "$work/pkg/DEBIAN/control"
    deb=$out/mirv-station_${version}_amd64.deb
    dpkg-deb --root-owner-group --build "$work/pkg" "$deb" >/dev/null
    echo "$deb"
    exit 0
fi
[ -z "$version" ] || { echo "$0: --version goes with --repack; a build takes the project's" >&2; exit 2; }

for tool in dpkg-deb dpkg-shlibdeps dpkg-buildflags help2man rsvg-convert soffice; do
    command -v "$tool" >/dev/null || { echo "$0: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done

# A clean Release build with Debian's hardening flags.
[ -z "$clean" ] || rm -rf "$build"
cd "$root"
# Another clone reuses what this one compiled.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
export CXXFLAGS="$CPPFLAGS $CXXFLAGS"
# No run path into the build tree's link folders; the office's program folder stays, where
# the office's UNO libraries must be loaded from for the export to find the office.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_SKIP_BUILD_RPATH=ON >/dev/null
# meter-sim is not packaged; the package test drives the installed station with it.
cmake --build "$build" -j"$(nproc)" --target mirv-station mirv-stationd mirv-history mirv-uplink \
    make-database report-template meter-sim
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
# Dates in the man pages and the changelog: the last commit's, so that a rebuild is the same.
SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)
export SOURCE_DATE_EPOCH
[ -n "$version" ] || { echo "$0: no project version in $build/CMakeCache.txt" >&2; exit 1; }

pkg=$root/packaging
stage=$build/stage
# The plant's files live in the group-writable program folder; the programs, root's alone,
# apart from it, where no member of the group can put another program in their place.
program=$stage/opt/mirv/station
lib=$stage/usr/lib/mirv-station
share=$stage/usr/share/mirv-station
doc=$stage/usr/share/doc/mirv-station
rm -rf "$stage"
install -d "$program" "$lib" "$share" "$doc/examples" "$stage/usr/bin" "$stage/usr/share/man/man1" \
    "$stage/usr/share/applications" "$stage/lib/systemd/system" "$stage/usr/share/lintian/overrides"

# The programs, stripped as Debian strips them; the service, which the service manager starts,
# without a link in /usr/bin.
for program_file in mirv-station mirv-stationd mirv-history mirv-uplink; do
    install -m 0755 "$build/station/$program_file" "$lib/"
    strip --remove-section=.comment --remove-section=.note --strip-unneeded "$lib/$program_file"
    [ "$program_file" = mirv-stationd ] ||
        ln -s "/usr/lib/mirv-station/$program_file" "$stage/usr/bin/$program_file"
done
# Where the programs find the plant's files.
echo /opt/mirv/station > "$lib/station-folder"
chmod 0644 "$lib/station-folder"

# What the maintainer scripts copy into the program folder when it lacks them: an empty
# database made from the schema and the report template as shipped.
"$build/tools/make-database" "$root/data/schema.sql" "$share/mirv.mdb"
chmod 0644 "$share/mirv.mdb"
install -m 0644 "$build/station/MirvReport.xls" "$root/data/schema.sql" "$share/"
# The shipped meter profiles; the maintainer scripts put each in the program folder's profiles/
# when it lacks it, beside the plant's own.
install -d "$share/profiles"
install -m 0644 "$root"/data/profiles/*.json "$share/profiles/"
# The central server's roles script, for the DBA (README: forwarding to a central server).
install -m 0644 "$root/data/central_roles.sql" "$share/"

# Menu entry and icon.
install -m 0644 "$pkg/mirv-station.desktop" "$stage/usr/share/applications/"
install -D -m 0644 "$pkg/mirv-station.svg" "$stage/usr/share/icons/hicolor/scalable/apps/mirv-station.svg"
for size in 16 22 24 32 48 64 128 256; do
    dir=$stage/usr/share/icons/hicolor/${size}x${size}/apps
    install -d "$dir"
    rsvg-convert -w "$size" -h "$size" -o "$dir/mirv-station.png" "$pkg/mirv-station.svg"
done

# Man pages: the tools' from their --help (mirv-history's with each command's), the station's
# written out.
{
    echo "[COMMANDS]"
    for command in export energy backup prune linkstats; do
        echo ".SS $command"
        echo ".nf"
        "$lib/mirv-history" "$command" --help | sed -e 's/\\/\\e/g' -e 's/^[.'"'"']/\\\&&/'
        echo ".fi"
    done
} > "$build/mirv-history.h2m"
help2man --no-info --section 1 --name "the station's history from the command line" \
    --include "$build/mirv-history.h2m" "$lib/mirv-history" > "$stage/usr/share/man/man1/mirv-history.1"
help2man --no-info --section 1 --name "forward the station's history to a central PostgreSQL server" \
    "$lib/mirv-uplink" > "$stage/usr/share/man/man1/mirv-uplink.1"
help2man --no-info --section 1 --name "the meter station as a service, without a window" \
    --include "$pkg/mirv-stationd.h2m" "$lib/mirv-stationd" > "$stage/usr/share/man/man1/mirv-stationd.1"
sed "s/@VERSION@/$version/g" "$pkg/mirv-station.1.in" > "$stage/usr/share/man/man1/mirv-station.1"
gzip -9n "$stage"/usr/share/man/man1/*.1

# Services, shipped disabled.
install -m 0644 "$pkg"/systemd/* "$stage/lib/systemd/system/"

install -m 0644 "$pkg/copyright" "$doc/"
install -m 0644 "$pkg/uplink.conf.example" "$doc/examples/uplink.conf"
{
    echo "mirv-station ($version) stable; urgency=medium"
    echo
    echo "  * Release $version."
    echo
    echo " -- $(sed -n 's/^Maintainer: //p' "$pkg/control.in")  $(date -R -d "@$SOURCE_DATE_EPOCH")"
} | gzip -9n > "$doc/changelog.gz"
install -m 0644 "$pkg/lintian-overrides" "$stage/usr/share/lintian/overrides/mirv-station"

# Control files: the libraries the programs link, found by dpkg-shlibdeps.
install -d "$stage/DEBIAN" "$build/shlibdeps/debian"
printf 'Source: mirv-station\n\nPackage: mirv-station\nArchitecture: amd64\n' \
    > "$build/shlibdeps/debian/control"
shlibs=$(cd "$build/shlibdeps" && dpkg-shlibdeps -O -e"$lib/mirv-station" \
    -e"$lib/mirv-stationd" -e"$lib/mirv-history" -e"$lib/mirv-uplink" | sed -n 's/^shlibs:Depends=//p')
size=$(du -sk --apparent-size --exclude=DEBIAN "$stage" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@SHLIBS@/$shlibs/" -e "s/@SIZE@/$size/" \
    "$pkg/control.in" > "$stage/DEBIAN/control"
for script in postinst prerm postrm; do
    install -m 0755 "$pkg/$script" "$stage/DEBIAN/"
done
(cd "$stage" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z |
    xargs -0 md5sum > DEBIAN/md5sums)
chmod 0644 "$stage/DEBIAN/md5sums"

deb=$out/mirv-station_${version}_amd64.deb
dpkg-deb --root-owner-group --build "$stage" "$deb" >/dev/null
echo "$deb"
