#!/usr/bin/env bash
# The Windows zip as a bench gets it: unpacked into a folder of its own, it
# holds the program, the README's Windows section and the license, and the
# program runs from there under Wine (KESTROVA_WINEPREFIX).
#   bash scripts/windows-zip-check.sh build/mingw
set -euo pipefail
cd "$(dirname "$0")/.."
tree=$1
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$tree/CMakeCache.txt")
name="kestrova-flash-$version-win64"
zip="$PWD/$tree/$name.zip"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
[ -f "$zip" ] || { echo "no $zip"; exit 1; }
(cd "$unpacked" && cmake -E tar xf "$zip")
for f in kestrova-flash.exe README-Windows.txt LICENSE.txt; do
  [ -s "$unpacked/$name/$f" ] || { echo "$name.zip holds no $f"; exit 1; }
done
[ "$(ls "$unpacked/$name" | wc -l)" -eq 3 ] || { echo "$name.zip holds more than its three files"; exit 1; }
readme="$unpacked/$name/README-Windows.txt"
if ! grep -q 'kestrova-flash --apn' "$readme" || grep -q '^#' "$readme"; then
  echo "README-Windows.txt is not the README's Windows section alone"
  exit 1
fi
grep -q 'MIT License' "$unpacked/$name/LICENSE.txt" || { echo "LICENSE.txt is not the license"; exit 1; }
# Nothing but Windows' own DLLs: the program runs as unpacked.
if x86_64-w64-mingw32-objdump -p "$unpacked/$name/kestrova-flash.exe" | grep -i 'DLL Name' | grep -Eiv 'kernel32|user32|advapi32|shell32|winmm|msvcrt|ws2_32|ole32|api-ms-win'; then
  echo "kestrova-flash.exe needs a DLL that Windows does not have"
  exit 1
fi
out=$(cd "$unpacked/$name" && "$OLDPWD/cmake/wine-run.sh" ./kestrova-flash.exe --version | tr -d '\r')
[ "$out" = "kestrova-flash $version" ] || { echo "kestrova-flash.exe --version printed \"$out\""; exit 1; }
