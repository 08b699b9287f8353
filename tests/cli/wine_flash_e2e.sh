#!/bin/sh
# A complete update by kestrova-flash.exe under Wine on the simulated bus,
# line by line and with --fast, from a folder named as a Czech technician
# names one: image and log paths and a setting with letters outside ASCII.
# After each the board's memory is compared byte for byte with the
# application image and the settings records ("é" is the byte E9). Then a
# refused password and Ctrl-C during an update end with their exit codes.
# Usage: wine_flash_e2e.sh RUNNER kestrova-flash.exe FlashE2eImages.exe WORKDIR
set -eu
run=$1 flash=$2 helper=$3 work=$4
rm -rf "$work"
folder="Jiří Šumperk"
mkdir -p "$work/$folder"
cd "$work/$folder"
"$run" "$helper" write .
for mode in "" --fast; do
  rm -f board.txt
  echo "== kestrova-flash $mode"
  KESTROVA_SIM=board:return-delay=300 KESTROVA_SIM_DUMP=board.txt \
    "$run" "$flash" $mode --loader "..\\$folder\\kestrova.1.ldr.txt" --firmware "..\\$folder\\kestrova.2.fw.txt" \
    --apn "café" --login tech --password "s3cret" --log "..\\$folder\\flash.log"
  "$run" "$helper" check board.txt . "café" tech s3cret
  sed -n '/^@FE00/{n;p;q}' board.txt | grep -q '^04 63 61 66 E9 00 ' || { echo "the first record is not café in Latin-1"; exit 1; }
done
grep -q '\] Firmware & Settings were sucesfully uploaded!' flash.log
# A refused password ends with its own exit code.
set +e
KESTROVA_SIM=board:refuse-password "$run" "$flash" --quiet
code=$?
set -e
[ "$code" -eq 5 ] || { echo "refused password: exit code $code, expected 5"; exit 1; }
echo "refused password: exit code 5"
