#!/usr/bin/env bash
# Runs a cross-built Windows program under 64-bit Wine.
#   wine-run.sh PREFIX PROGRAM [ARGS...]
#   wine-run.sh PREFIX             only make sure the prefix exists
#   wine-run.sh --reset PREFIX     replace the prefix with a new one
# PREFIX is a Wine prefix owned by the build folder, never the user's own. It
# is created on first use (wineboot takes several seconds, so this happens
# once, under a lock). The program's carriage returns are dropped from its
# standard output so that tools parsing it (test discovery) see plain lines.
set -uo pipefail
reset=0
if [[ ${1:-} == --reset ]]; then
  reset=1
  shift
fi
prefix=$(realpath -m "$1")  # Wine takes absolute prefixes only
shift
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko prompts in a fresh prefix.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine=${ORVEL_WINE:-}
if [[ -z $wine ]]; then
  wine=$(command -v wine64 || true)
  [[ -n $wine ]] || wine=/usr/lib/wine/wine64
fi
wineserver=$(dirname "$wine")/wineserver
[[ -x $wineserver ]] || wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [[ $reset == 1 && -d $prefix ]]; then
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$prefix"
  fi
  if [[ ! -f $prefix/system.reg ]]; then
    "$wine" wineboot -i >/dev/null 2>&1
    # The registry is on disk once the server has gone.
    "$wineserver" -w 2>/dev/null || true
  fi
) 9>"$prefix.lock"
[[ -f $prefix/system.reg ]] || { echo "wine-run.sh: could not create the Wine prefix $prefix" >&2; exit 1; }

[[ $# -gt 0 ]] || exit 0
# Start the prefix's server here, detached from our output: one that a program
# starts inherits its standard error and writes its object dump there when it
# exits. A server already running makes this a no-op.
"$wineserver" -p2 </dev/null >/dev/null 2>&1
"$wine" "$@" | tr -d '\r'
exit "${PIPESTATUS[0]}"
