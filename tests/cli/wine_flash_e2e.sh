#!/bin/sh
# A complete update by kestrova-flash.exe under Wine on the simulated bus,
# line by line and with --fast; after each the board's memory is compared
# byte for byte with the application image and the settings records.
# Usage: wine_flash_e2e.sh RUNNER kestrova-flash.exe FlashE2eImages.exe WORKDIR
set -eu
run=$1 flash=$2 helper=$3 work=$4
rm -rf "$work"
mkdir -p "$work"
cd "$work"
"$run" "$helper" write .
for mode in "" --fast; do
  rm -f board.txt
  echo "== kestrova-flash $mode"
  KESTROVA_SIM=board:return-delay=300 KESTROVA_SIM_DUMP=board.txt \
    "$run" "$flash" $mode --apn web.example --login tech --password "s3cret" --log flash.log
  "$run" "$helper" check board.txt . web.example tech s3cret
done
# A refused password ends with its own exit code.
set +e
KESTROVA_SIM=board:refuse-password "$run" "$flash" --quiet
code=$?
set -e
[ "$code" -eq 5 ] || { echo "refused password: exit code $code, expected 5"; exit 1; }
echo "refused password: exit code 5"
