#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds two applications
# outside the tree against that prefix only:
#   - C, with pkg-config and a plain compiler command (the headers as C99);
#   - C++, with find_package(Orvel) and the Orvel::Orvel target.
# Each one then opens the line to the installed simulator, powers the card up
# and reads its serial number.
#
# usage: installed_prefix_test.sh BUILD_DIR SOURCE_DIR CMAKE CC CXX VERSION
#        WITH_SIM (ON/OFF) [CFLAGS [CXXFLAGS [LDFLAGS]]]
# Exit 77 (skipped) only for the run against the simulator when the build has
# no simulator; everything before it still has to pass.
set -euo pipefail

build_dir=$1 source_dir=$2 cmake=$3 cc=$4 cxx=$5 version=$6 with_sim=$7
cflags=${8:-} cxxflags=${9:-} ldflags=${10:-}
major=${version%%.*}

work=$(mktemp -d "${TMPDIR:-/tmp}/orvel-consumer.XXXXXX")
prefix=$work/prefix
sim_pid=""

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

stop_sim() {
    if [[ -n $sim_pid ]]; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=""
    fi
}

finish() {
    local rc=$?
    stop_sim
    if [[ $rc -eq 0 || $rc -eq 77 ]]; then
        rm -rf "$work"
    else
        echo "work folder kept for inspection: $work" >&2
    fi
    exit "$rc"
}
trap finish EXIT

# ---- Install -----------------------------------------------------------------

"$cmake" --install "$build_dir" --prefix "$prefix" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log" >&2; fail "cmake --install failed"; }

pc_file=$(find "$prefix" -name orvel.pc -print -quit)
[[ -n $pc_file ]] || fail "orvel.pc not installed"
# Only the temporary prefix: a copy installed on the machine must not help.
export PKG_CONFIG_LIBDIR
PKG_CONFIG_LIBDIR=$(dirname "$pc_file")
unset PKG_CONFIG_PATH

for module in tarvex orvel; do
    got=$(pkg-config --modversion "$module") || fail "pkg-config does not know $module"
    [[ $got == "$version" ]] || fail "$module.pc says version $got, the project is $version"
done
libdir=$(pkg-config --variable=libdir orvel)
includedir=$(pkg-config --variable=includedir orvel)
[[ $libdir == "$prefix"/* ]] || fail "orvel.pc libdir $libdir is outside the prefix $prefix"

for header in tarvex.h orvel.h; do
    [[ -f $includedir/$header ]] || fail "$header not installed in $includedir"
done

# Each library: libX.so -> libX.so.MAJOR (its SONAME) -> libX.so.VERSION.
for lib in Tarvex Orvel Ciphon; do
    real=$libdir/lib$lib.so.$version
    [[ -f $real && ! -L $real ]] || fail "lib$lib.so.$version not installed"
    [[ $(readlink "$libdir/lib$lib.so") == "lib$lib.so.$major" ]] ||
        fail "lib$lib.so does not point at lib$lib.so.$major"
    [[ $(readlink "$libdir/lib$lib.so.$major") == "lib$lib.so.$version" ]] ||
        fail "lib$lib.so.$major does not point at lib$lib.so.$version"
    soname=$(readelf -d "$real" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
    [[ $soname == "lib$lib.so.$major" ]] || fail "lib$lib SONAME is '$soname'"
done

# ---- C: pkg-config and one compiler command ----------------------------------

mkdir "$work/c"
cp "$source_dir/read_serial.c" "$work/c/"
# shellcheck disable=SC2046,SC2086  # flags are word lists
(cd "$work/c" &&
    "$cc" $cflags -std=c99 -pedantic-errors -Wall -Wextra -Werror \
        read_serial.c $(pkg-config --cflags --libs orvel) \
        $ldflags -Wl,-rpath,"$libdir" -o read_serial_c) ||
    fail "the C program does not build with: $cc \$(pkg-config --cflags --libs orvel)"
needed=$(readelf -d "$work/c/read_serial_c" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
for lib in Orvel Tarvex; do
    grep -qx "lib$lib.so.$major" <<<"$needed" ||
        fail "the C program does not record lib$lib.so.$major (needs: $(echo $needed))"
done

# ---- C++: find_package(Orvel) ------------------------------------------------

cp -r "$source_dir/cxx" "$work/cxx-src"
"$cmake" -S "$work/cxx-src" -B "$work/cxx-build" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_CXX_FLAGS="$cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
    -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
    -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF \
    -DORVEL_EXPECTED_VERSION="$version" >"$work/cxx-configure.log" 2>&1 ||
    { cat "$work/cxx-configure.log" >&2; fail "find_package(Orvel) project does not configure"; }
for package in Orvel Tarvex; do
    dir=$(sed -n "s/^-- ${package}_DIR=//p" "$work/cxx-configure.log")
    [[ $dir == "$prefix"/* ]] || fail "$package found in '$dir', not in the prefix $prefix"
done
"$cmake" --build "$work/cxx-build" >"$work/cxx-build.log" 2>&1 ||
    { cat "$work/cxx-build.log" >&2; fail "find_package(Orvel) project does not build"; }

# ---- Both against the simulator ----------------------------------------------

if [[ $with_sim != ON ]]; then
    echo "no orvel-sim in this build: the programs were built but not run"
    exit 77
fi
sim=$prefix/bin/orvel-sim
[[ -x $sim ]] || fail "orvel-sim not installed in $prefix/bin"

# A card serial number and a port number other than the simulator's defaults,
# so that what the programs print can only come from this card on this line.
card_serial=5A17C0DE00FF1234
sim_port=42

# Starts the installed simulator and exports the TARVEX_COM<n> line it prints;
# sets `port`.
start_sim() {
    : >"$work/sim.out"
    "$sim" --port "$sim_port" --serial "$card_serial" >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    local line="" tries
    for ((tries = 0; tries < 200; ++tries)); do
        line=$(grep -m1 -E '^TARVEX_COM[0-9]+=' "$work/sim.out" || true)
        [[ -n $line ]] && break
        kill -0 "$sim_pid" 2>/dev/null ||
            { cat "$work/sim.err" >&2; fail "orvel-sim exited before printing its port"; }
        sleep 0.05
    done
    [[ -n $line ]] || fail "orvel-sim printed no TARVEX_COM<n>= line within 10 s"
    local name=${line%%=*}
    export "$name=${line#*=}"
    port=${name#TARVEX_COM}
}

for program in "$work/c/read_serial_c" "$work/cxx-build/read_serial_cxx"; do
    start_sim
    out=$(timeout 60 "$program" "$port" 2>"$work/program.err") ||
        { cat "$work/program.err" >&2; fail "$(basename "$program") failed against orvel-sim"; }
    stop_sim
    [[ $port == "$sim_port" ]] || fail "orvel-sim printed port $port, asked for $sim_port"
    [[ $out == "$card_serial" ]] ||
        fail "$(basename "$program") read serial '$out', the card's is $card_serial"
done
echo "both programs read the card's serial number $card_serial"
