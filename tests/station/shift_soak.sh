#!/usr/bin/env bash
# A shift without a restart: BOARDS simulated boards go through one run of
# the station window, ten at a time on ten ports, plugged in and unplugged
# through KESTROVA_SIM_CONTROL. The window's resident memory after the last
# board must stay within 10 % of that after board 50, and its thread count
# must be the same (both read while no board is connected).
# usage: shift_soak.sh KESTROVA_STATION MAKE_DEMO_IMAGES [BOARDS]
set -euo pipefail
station_program=$1 make_images=$2 boards=${3:-500}
ports=10
dir=$(mktemp -d "${TMPDIR:-/tmp}/kestrova-shift Jiří.XXXXXX")
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  exec 3>&- 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

"$make_images" "$dir" >/dev/null
sha() { sha256sum "$1" | cut -d' ' -f1; }
{
  echo '<station name="Shift soak" fast="yes">'
  echo "  <loader file=\"kestrova.1.ldr.txt\" sha256=\"$(sha "$dir/kestrova.1.ldr.txt")\"/>"
  echo "  <firmware file=\"kestrova.2.fw.txt\" sha256=\"$(sha "$dir/kestrova.2.fw.txt")\"/>"
  echo '  <settings apn="internet" login="user" password="40817"/>'
  echo '  <ports>'
  for p in $(seq 1 $ports); do echo "    <port path=\"1-1.$p\" label=\"Slot $p\"/>"; done
  echo '  </ports>'
  echo '  <record file="records.jsonl"/>'
  echo '</station>'
} >"$dir/station.xml"
mkfifo "$dir/control"

# Each unplugged board is written to its dump and dropped by the simulation.
mkdir "$dir/dumps"
KESTROVA_SIM=hub KESTROVA_SIM_CONTROL="$dir/control" KESTROVA_SIM_DUMP="$dir/dumps/board.txt" QT_QPA_PLATFORM=offscreen \
  "$station_program" "$dir/station.xml" >"$dir/out.log" 2>&1 &
pid=$!
exec 3>"$dir/control"

records() { [ -f "$dir/records.jsonl" ] && wc -l <"$dir/records.jsonl" || echo 0; }
status_field() { awk -v f="$1:" '$1 == f { print $2 }' "/proc/$pid/status"; }
# Waits until the record holds $1 lines (a board that hangs fails the soak).
wait_records() {
  local deadline=$((SECONDS + 60))
  while [ "$(records)" -lt "$1" ]; do
    if [ $SECONDS -gt $deadline ] || ! kill -0 "$pid" 2>/dev/null; then
      echo "FAIL: $(records) of $1 boards recorded"; cat "$dir/out.log"; exit 1
    fi
    sleep 0.1
  done
}

done_boards=0 rss50= threads50=
while [ $done_boards -lt "$boards" ]; do
  batch=$((boards - done_boards < ports ? boards - done_boards : ports))
  for p in $(seq 1 "$batch"); do echo "plug board:port=1-1.$p:return-delay=100" >&3; done
  wait_records $((done_boards + batch))
  for p in $(seq 1 "$batch"); do echo "unplug 1-1.$p" >&3; done
  done_boards=$((done_boards + batch))
  sleep 0.3  # the unplugged boards' threads and memory go
  if [ $done_boards -eq 50 ]; then
    rss50=$(status_field VmRSS) threads50=$(status_field Threads)
  fi
done
rss=$(status_field VmRSS) threads=$(status_field Threads)
failed=$(grep -vc '"result":"success"' "$dir/records.jsonl" || true)
echo "boards: $done_boards recorded: $(records) not successful: $failed"
echo "after board 50: VmRSS ${rss50} kB, threads $threads50"
echo "after board $done_boards: VmRSS ${rss} kB, threads $threads"
[ "$failed" -eq 0 ] || { echo "FAIL: boards failed"; exit 1; }
[ "$threads" -eq "$threads50" ] || { echo "FAIL: the thread count changed"; exit 1; }
[ $((rss * 10)) -le $((rss50 * 11)) ] || { echo "FAIL: memory grew by more than 10 %"; exit 1; }
echo "SHIFT-OK"
