#!/bin/sh
# A complete update by kestrova-flash.exe under Wine on the simulated bus,
# line by line and with --fast, from a folder named as a Czech technician
# names one: image and log paths and a setting with letters outside ASCII.
# After each the board's memory is compared byte for byte with the
# application image and the settings records ("é" is the byte E9); the
# board that comes back cannot be opened at the first pass that meets it,
# and nothing tells of it again: the wait's own passes find it. Then a
# refused password, Ctrl-C during an update and closing the console during
# a gang end with their exit codes.
# Usage: wine_flash_e2e.sh RUNNER kestrova-flash.exe FlashE2eImages.exe WORKDIR ConsoleClose.exe
set -eu
run=$1 flash=$2 helper=$3 work=$4 closer=$5
rm -rf "$work"
folder="Jiří Šumperk"
mkdir -p "$work/$folder"
cd "$work/$folder"
"$run" "$helper" write .
for mode in "" --fast; do
  rm -f board.txt
  echo "== kestrova-flash $mode"
  KESTROVA_SIM=board:return-delay=300:first-open-fails KESTROVA_SIM_DUMP=board.txt \
    "$run" "$flash" $mode --loader "..\\$folder\\kestrova.1.ldr.txt" --firmware "..\\$folder\\kestrova.2.fw.txt" \
    --apn "café" --login tech --password "s3cret" --log "..\\$folder\\flash.log"
  "$run" "$helper" check board.txt . "café" tech s3cret
  sed -n '/^@FE00/{n;p;q}' board.txt | grep -q '^04 63 61 66 E9 00 ' || { echo "the first record is not café in Latin-1"; exit 1; }
done
grep -q '\] Firmware & Settings were sucesfully uploaded!' flash.log
# Two boards behind a hub at once (Wine's own HID devices give no port; the
# simulated bus gives each board its own): each dump holds the image and
# the settings, the record one whole line per board and port.
echo "== kestrova-flash --gang"
KESTROVA_SIM=hub,board:return-delay=300,board:return-delay=300 KESTROVA_SIM_DUMP=gang.txt \
  "$run" "$flash" --gang --fast --apn "café" --login tech --password "s3cret" --record "..\\$folder\\r.jsonl" >gang.txt.out
cat gang.txt.out
for port in 1-1.1 1-1.2; do
  "$run" "$helper" check "gang-$port.txt" . "café" tech s3cret
  grep -q "^$port: ok in " gang.txt.out || { echo "no result line for $port"; exit 1; }
  grep -q "^{\"time\":\"[0-9T:-]*Z\",\"port\":\"$port\",\"board_id\":\"[0-9A-F-]\{18\}\",\"result\":\"success\",.*\"apn\":\"café\",\"login\":\"tech\",.*}\r\{0,1\}$" r.jsonl ||
    { echo "no record line for $port"; cat r.jsonl; exit 1; }
done
[ "$(wc -l <r.jsonl)" -eq 2 ] || { echo "the record holds other than two lines"; exit 1; }
grep -q 's3cret' r.jsonl && { echo "the password is in the record"; exit 1; }
grep -q '^Totals: 2 boards, 2 updated, 0 failed.' gang.txt.out
# A refused password ends with its own exit code.
set +e
KESTROVA_SIM=board:refuse-password "$run" "$flash" --quiet
code=$?
set -e
[ "$code" -eq 5 ] || { echo "refused password: exit code $code, expected 5"; exit 1; }
echo "refused password: exit code 5"
# Ctrl-C, twice, while the update waits for the board (under Wine a SIGINT
# reaches the console's control handler; Ctrl-Break and closing the console
# cannot be sent): the update stops at its next pause and ends with 130.
KESTROVA_SIM=board:return-delay=5000 "$run" "$flash" >interrupted.txt 2>&1 &
pid=$!
tries=0
until grep -q '^2. Wait for device' interrupted.txt; do
  tries=$((tries + 1))
  [ "$tries" -le 150 ] || { kill "$pid"; echo "the update did not reach the wait for the board"; exit 1; }
  sleep 0.2
done
kill -INT "$pid"
sleep 0.3
kill -INT "$pid" 2>/dev/null || true  # it may have stopped already
set +e
wait "$pid"
code=$?
set -e
cat interrupted.txt
[ "$code" -eq 130 ] || { echo "Ctrl-C: exit code $code, expected 130"; exit 1; }
grep -q 'interrupted by Ctrl-C during the update' interrupted.txt
echo "Ctrl-C: exit code 130"
# Closing the console while a gang with --record waits for its boards (a
# thread at kernelbase's CtrlRoutine with CTRL_CLOSE_EVENT, as Windows
# starts one): each board stops at its next pause and has its record line,
# and the process ends with 130 within the 5 s Windows leaves it.
set +e
KESTROVA_SIM=hub,board:return-delay=5000,board:return-delay=5000 "$run" "$closer" closed.txt "1-1.1: 2. Wait" \
  "$flash" --gang --fast --record closed.jsonl >closed.txt 2>closed.err
code=$?
set -e
cat closed.txt closed.err
[ "$code" -eq 130 ] || { echo "console closed: exit code $code, expected 130"; exit 1; }
ms=$(sed -n 's/^ended \([0-9]*\) ms after the close.*/\1/p' closed.err)
[ "${ms:-99999}" -lt 5000 ] || { echo "console closed: ended $ms ms after the close"; exit 1; }
[ "$(grep -c '"result":"cancelled"' closed.jsonl)" -eq 2 ] || { echo "not one record line per board"; cat closed.jsonl; exit 1; }
echo "console closed: exit code 130, $ms ms, two record lines"
