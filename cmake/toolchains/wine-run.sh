#!/usr/bin/env bash
# Runs a cross-built Windows program under 64-bit Wine.
#   wine-run.sh PREFIX PROGRAM [ARGS...]
# PREFIX is a Wine prefix owned by the build folder; it is created on first use
# (wineboot takes several seconds, so this happens once, under a lock). The
# program's carriage returns are dropped from its standard output so that
# tools parsing it (test discovery) see plain lines.
set -uo pipefail
prefix=$1
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
if [[ ! -f $prefix/system.reg ]]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [[ ! -f $prefix/system.reg ]]; then
      "$wine" wineboot -i >/dev/null 2>&1
      "$(dirname "$wine")/wineserver" -w 2>/dev/null || true
    fi
  ) 9>"$prefix.lock"
fi
"$wine" "$@" | tr -d '\r'
exit "${PIPESTATUS[0]}"
