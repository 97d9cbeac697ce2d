#!/usr/bin/env bash
# Configures the project in a clean build folder as on a machine where some
# of the build's Debian packages are missing, and checks what the configure
# step does about it. dpkg-query, apt-get and id are stand-ins (fake_apt/),
# so the machine's packages are never touched: the stand-in dpkg-query reports
# the chosen packages as removed, the stand-in apt-get only logs its calls,
# the stand-in id shows a user without root when asked to.
#
# usage: missing_packages_test.sh CASE SOURCE_DIR CMAKE FAKE_DIR
#   dry_run          ORVEL_APT_DRY_RUN=ON: names the command, installs nothing
#   root_installs    as root: runs apt-get install for exactly the missing ones
#   root_stale_lists as root: a failed install is retried after apt-get update
#   root_fails       as root: apt-get cannot install: stops naming the command
#   not_root         without root: stops with one line naming the command
# The stand-in id plays root or not; no case needs real root.
set -euo pipefail

case_name=$1 source_dir=$2 cmake=$3 fake_dir=$4
removed="libcli11-dev nlohmann-json3-dev"
command_line="apt-get install -y --no-install-recommends $removed"

work=$(mktemp -d "${TMPDIR:-/tmp}/orvel-setup.XXXXXX")
trap 'rm -rf "$work"' EXIT
log=$work/apt.log

fail() {
    echo "FAIL [$case_name]: $*" >&2
    echo "---- configure output" >&2
    cat "$work/out" >&2 2>/dev/null || true
    exit 1
}

# Runs a clean configure with the stand-ins; sets `rc`; output in $work/out.
configure() {
    rc=0
    env PATH="$fake_dir:$PATH" FAKE_UID="${uid:-}" \
        FAKE_DPKG_REMOVED="$removed" FAKE_APT_LOG="$log" \
        FAKE_APT_INSTALL="${apt_install:-ok}" \
        "$cmake" -S "$source_dir" -B "$work/build" \
        -DORVEL_DPKG_QUERY="$fake_dir/dpkg-query" \
        -DORVEL_APT_GET="$fake_dir/apt-get" \
        "$@" >"$work/out" 2>&1 || rc=$?
}

apt_calls() { cat "$log" 2>/dev/null || true; }

case $case_name in
dry_run)
    configure -DORVEL_APT_DRY_RUN=ON
    [[ $rc == 0 ]] || fail "a dry run must not stop the configure (rc $rc)"
    grep -qF -- "dry run, nothing installed): $command_line" "$work/out" ||
        fail "the dry run does not name: $command_line"
    [[ -z $(apt_calls) ]] || fail "the dry run called apt-get: $(apt_calls)"
    ;;
root_installs)
    uid=0 configure
    [[ $rc == 0 ]] || fail "configure failed after installing (rc $rc)"
    [[ $(apt_calls) == "install -y --no-install-recommends $removed" ]] ||
        fail "expected one install of exactly the missing packages, got: $(apt_calls)"
    ;;
root_stale_lists)
    uid=0 apt_install=stale configure
    [[ $rc == 0 ]] || fail "configure failed although the retry succeeds (rc $rc)"
    expected=$(printf '%s\n' "install -y --no-install-recommends $removed" "update -q" \
        "install -y --no-install-recommends $removed")
    [[ $(apt_calls) == "$expected" ]] ||
        fail "expected install, update, install; got: $(apt_calls)"
    ;;
root_fails)
    uid=0 apt_install=fail configure
    [[ $rc != 0 ]] || fail "configure went on although nothing could be installed"
    grep -qxE -- " +${command_line}" "$work/out" ||
        fail "the error has no line of its own with: $command_line"
    ;;
not_root)
    uid=1000 configure
    [[ $rc != 0 ]] || fail "configure went on without the packages"
    [[ -z $(apt_calls) ]] || fail "apt-get was called without root: $(apt_calls)"
    mentions=$(grep -c -F "apt-get install" "$work/out" || true)
    [[ $mentions == 1 ]] || fail "expected one line naming apt-get install, found $mentions"
    grep -qxE -- " +sudo ${command_line}" "$work/out" ||
        fail "the error has no line of its own with: sudo $command_line"
    # It stops at once, before any find_package reports on the missing ones.
    if grep -q "Could NOT find\|Could not find a package" "$work/out"; then
        fail "configure went on to find_package errors"
    fi
    ;;
*)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac
echo "$case_name: ok"
