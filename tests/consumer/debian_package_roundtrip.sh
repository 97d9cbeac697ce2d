#!/usr/bin/env bash
# Builds the Debian package from a build folder, installs it on this machine
# with dpkg -i, builds the C consumer (pkg-config; no -I, -L or run path of
# our own) and the C++ one (find_package) against the system copy, runs the C
# one against the installed simulator, removes the package with dpkg -r and checks
# that nothing of it is left: no file, no dpkg entry, no linker cache entry.
#
# It changes the machine while it runs, so it is a CI stage, not a ctest
# test. It refuses to run if a package of that name is installed already.
#
# usage: debian_package_roundtrip.sh BUILD_DIR   (as root)
set -euo pipefail

build_dir=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")" && pwd)
package=orvel

[[ $(id -u) == 0 ]] || { echo "needs root (dpkg -i)" >&2; exit 2; }
if dpkg-query -W "$package" >/dev/null 2>&1; then
    echo "a package named $package is installed already; not touching it" >&2
    exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/orvel-deb.XXXXXX")
installed=false
sim_pid=""
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
finish() {
    local rc=$?
    if [[ -n $sim_pid ]]; then kill -TERM "$sim_pid" 2>/dev/null || true; fi
    if $installed; then dpkg -r "$package" >/dev/null 2>&1 || true; fi
    rm -rf "$work"
    exit "$rc"
}
trap finish EXIT

rm -rf "$build_dir/packages"
(cd "$build_dir" && cpack -G DEB) >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack -G DEB failed"; }
deb=$(find "$build_dir/packages" -maxdepth 1 -name "${package}_*.deb" -print -quit)
[[ -n $deb ]] || fail "cpack produced no ${package}_*.deb"
echo "package: $deb"
dpkg-deb -f "$deb" Package Version Depends

dpkg -i "$deb" >"$work/dpkg-i.log" 2>&1 || { cat "$work/dpkg-i.log" >&2; fail "dpkg -i failed"; }
installed=true
dpkg-query -L "$package" | sort >"$work/files.txt"

for name in tarvex orvel; do
    pkg-config --exists "$name" || fail "pkg-config does not find $name after dpkg -i"
done
ldconfig -p | grep -q "libOrvel.so.1 " || fail "libOrvel.so.1 is not in the linker cache"
for file in /include/tarvex.h /include/orvel.h /cmake/Tarvex/TarvexConfig.cmake \
    /cmake/Orvel/OrvelConfig.cmake /bin/orvel /bin/orvel-sim; do
    grep -q -- "$file\$" "$work/files.txt" || fail "the package has no ...$file"
done

# shellcheck disable=SC2046
cc -std=c99 -pedantic-errors -Wall -Wextra -Werror "$source_dir/read_serial.c" \
    $(pkg-config --cflags --libs orvel) -o "$work/read_serial_c" ||
    fail "the C consumer does not build against the installed package"
cmake -S "$source_dir/cxx" -B "$work/cxx" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
    >"$work/cxx.log" 2>&1 || { cat "$work/cxx.log" >&2; fail "find_package(Orvel) fails against the installed package"; }
grep -q "^-- Orvel_DIR=/usr/" "$work/cxx.log" || fail "find_package(Orvel) did not take the package under /usr"
cmake --build "$work/cxx" >"$work/cxx-build.log" 2>&1 ||
    { cat "$work/cxx-build.log" >&2; fail "the C++ consumer does not build against the installed package"; }

if [[ -x /usr/bin/orvel-sim ]]; then
    card_serial=5A17C0DE00FF1234
    /usr/bin/orvel-sim --serial "$card_serial" >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    line=""
    for ((tries = 0; tries < 200; ++tries)); do
        line=$(grep -m1 -E '^TARVEX_COM[0-9]+=' "$work/sim.out" || true)
        [[ -n $line ]] && break
        sleep 0.05
    done
    [[ -n $line ]] || fail "orvel-sim printed no TARVEX_COM line"
    export "${line%%=*}=${line#*=}"
    port=${line%%=*}
    port=${port#TARVEX_COM}
    serial=$(timeout 60 "$work/read_serial_c" "$port") ||
        fail "the C consumer failed against orvel-sim"
    [[ $serial == "$card_serial" ]] || fail "the C consumer read serial '$serial', the card's is $card_serial"
    kill -TERM "$sim_pid"
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
    echo "serial number read through the installed package: $serial"
fi

dpkg -r "$package" >"$work/dpkg-r.log" 2>&1 || { cat "$work/dpkg-r.log" >&2; fail "dpkg -r failed"; }
installed=false

if dpkg-query -W "$package" >/dev/null 2>&1; then
    fail "dpkg still lists $package after dpkg -r: $(dpkg-query -W -f='${db:Status-Abbrev}' "$package")"
fi
left=""
while IFS= read -r path; do
    # Directories such as /usr/lib belong to other packages as well.
    if [[ -e $path && ! -d $path ]] || [[ -L $path ]]; then left+="$path "; fi
done <"$work/files.txt"
[[ -z $left ]] || fail "left behind after dpkg -r: $left"
for dir in /usr/lib/cmake/Orvel /usr/lib/cmake/Tarvex; do
    [[ ! -e $dir ]] || fail "left behind after dpkg -r: $dir"
done
ls /var/lib/dpkg/info/"$package".* >/dev/null 2>&1 && fail "dpkg control files of $package left behind"
if ldconfig -p | grep -qE "lib(Orvel|Tarvex|Ciphon)\.so"; then
    fail "the linker cache still lists our libraries"
fi
echo "dpkg -i and dpkg -r: installed, used and removed with nothing left behind"
