#!/usr/bin/env bash
# Runs a program against a native peer on a pseudo-terminal: the peer (the
# scripted line_peer or the simulator) prints TARVEX_COM<n>=<slave>, the
# driver maps port n to that slave, runs the program with ORVEL_TEST_PORT=n
# and reports failure if either side failed.
#
#   line_driver.sh [--wine-prefix DIR] [--peer-verdict] \
#       --peer PEER [ARGS...] --run [RUNNER...] PROGRAM [ARGS...]
#
# --wine-prefix  map the port as Wine sees it: DIR/dosdevices/com<n> -> slave
#                (the program then runs under Wine; RUNNER creates DIR once).
#                Without it the port is mapped through TARVEX_COM<n>.
# --peer-verdict the peer ends by itself and its exit status counts; without
#                it the peer is a server and is stopped after the program.
# Exit 77 (a skip for CTest) when the peer program does not exist.
set -uo pipefail

prefix=""
verdict=0
while [[ $# -gt 0 && $1 != --peer ]]; do
  case $1 in
    --wine-prefix) prefix=$2; shift 2 ;;
    --peer-verdict) verdict=1; shift ;;
    *) echo "line_driver: unknown option $1" >&2; exit 2 ;;
  esac
done
[[ $# -gt 1 ]] || { echo "line_driver: --peer PEER missing" >&2; exit 2; }
shift
peer=()
while [[ $# -gt 0 && $1 != --run ]]; do peer+=("$1"); shift; done
[[ $# -gt 1 ]] || { echo "line_driver: --run PROGRAM missing" >&2; exit 2; }
shift
run=("$@")

if [[ ! -x ${peer[0]} ]]; then
  echo "SKIP: native peer ${peer[0]} not built. Build the native tree first" \
       "(cmake --workflow --preset test) or point ORVEL_NATIVE_BUILD_DIR at one."
  exit 77
fi

work=$(mktemp -d)
peer_pid=""
link=""
cleanup() {
  if [[ -n $peer_pid ]] && kill -0 "$peer_pid" 2>/dev/null; then
    kill "$peer_pid" 2>/dev/null
    wait "$peer_pid" 2>/dev/null
  fi
  [[ -n $link ]] && rm -f "$link"
  rm -rf "$work"
}
trap cleanup EXIT

"${peer[@]}" >"$work/peer.out" 2>"$work/peer.err" &
peer_pid=$!

# The peer names its line on its first line of output.
mapping=""
for _ in $(seq 200); do
  mapping=$(grep -m1 -E '^TARVEX_COM[0-9]+=' "$work/peer.out" || true)
  [[ -n $mapping ]] && break
  kill -0 "$peer_pid" 2>/dev/null || break
  sleep 0.05
done
if [[ -z $mapping ]]; then
  echo "line_driver: the peer named no line" >&2
  cat "$work/peer.out" "$work/peer.err" >&2
  exit 1
fi
port=${mapping%%=*}
port=${port#TARVEX_COM}
slave=${mapping#*=}

if [[ -n $prefix ]]; then
  # A runner without a program only makes sure the prefix exists.
  "${run[0]}" "$prefix" || { echo "line_driver: no Wine prefix at $prefix" >&2; exit 1; }
  link=$prefix/dosdevices/com$port
  ln -sfn "$slave" "$link"
fi

ORVEL_TEST_PORT=$port env "TARVEX_COM$port=$slave" "${run[@]}"
rc=$?

peer_rc=0
if [[ $verdict == 1 ]]; then
  # A scripted peer has seen its last step by the time the program ends; a
  # little grace covers the last bytes in flight.
  for _ in $(seq 100); do
    kill -0 "$peer_pid" 2>/dev/null || break
    sleep 0.05
  done
  if kill -0 "$peer_pid" 2>/dev/null; then
    echo "line_driver: the peer was still waiting when the program ended" >&2
    peer_rc=1
  else
    wait "$peer_pid"
    peer_rc=$?
  fi
  peer_pid=""
fi
if [[ -s $work/peer.err ]]; then
  echo "--- peer:" >&2
  cat "$work/peer.err" >&2
fi
if [[ $rc != 0 ]]; then exit "$rc"; fi
if [[ $peer_rc != 0 ]]; then
  echo "line_driver: the peer's script failed (status $peer_rc)" >&2
  exit 1
fi
exit 0
