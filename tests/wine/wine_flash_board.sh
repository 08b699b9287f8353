#!/bin/sh
# A complete update by kestrova-flash.exe under Wine through the Windows
# backend and Wine's HID bus, in front of the simulated board on a umockdev
# hidraw node: both stages, the board's return as a removal and a new
# device, the settings block and the verification, line by line and with
# --fast; after each, the board's memory against the images byte for byte.
# Usage: wine_flash_board.sh BOARD RUNNER kestrova-flash.exe FlashE2eImages.exe WORKDIR
# BOARD is wine_hid_board, RUNNER cmake/wine-run.sh.
set -eu
board=$1 run=$2 flash=$3 helper=$4 work=$5
rm -rf "$work"
mkdir -p "$work"
cd "$work"
"$run" "$helper" write .
for mode in "" --fast; do
  echo "== kestrova-flash $mode"
  rm -f board.txt
  "$board" --board return-delay=300 --dump board.txt \
    "$run" "$flash" $mode --apn web.example --login tech --password "s3cret" --log flash.log | tee run.txt
  # The resident loader's node goes, the RAM loader comes as a new one.
  grep -q '^\[board\] /dev/hidraw0 removed' run.txt
  grep -q '^\[board\] /dev/hidraw1 added' run.txt
  "$run" "$helper" check board.txt . web.example tech s3cret
done
# A refused password ends with its own exit code.
set +e
"$board" --board refuse-password "$run" "$flash" --quiet
code=$?
set -e
[ "$code" -eq 5 ] || { echo "refused password: exit code $code, expected 5"; exit 1; }
echo "refused password: exit code 5"
