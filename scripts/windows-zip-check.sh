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
# The DLLs the program imports by name: only those that Windows always
# takes from System32, whatever lies beside the program: the KnownDLLs
# (HKLM\System\CurrentControlSet\Control\Session Manager\KnownDLLs,
# mapped from \KnownDlls at start-up) of every Windows since 7 among
# those a console program may use (each Windows lists more), and the API
# sets (api-ms-win-*, ext-ms-win-*), which the loader resolves itself.
# winmm.dll, cfgmgr32.dll and hid.dll are no KnownDLLs: a copy planted
# beside the program would be loaded, so the program binds them (and
# setupapi.dll) at run time from System32 instead of importing them.
known_dlls='kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|msvcrt|ws2_32|rpcrt4|shlwapi|imm32|comdlg32|psapi|normaliz|nsi|sechost|wldap32|imagehlp'
imports=$(x86_64-w64-mingw32-objdump -p "$unpacked/$name/kestrova-flash.exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r')
echo "kestrova-flash.exe imports: $(echo $imports)"
if echo "$imports" | grep -Eiv "^($known_dlls)\.dll\$|^(api|ext)-ms-win-[a-z0-9-]+\.dll\$"; then
  echo "kestrova-flash.exe imports a DLL that Windows may load from beside it (above)"
  exit 1
fi
out=$(cd "$unpacked/$name" && "$OLDPWD/cmake/wine-run.sh" ./kestrova-flash.exe --version | tr -d '\r')
[ "$out" = "kestrova-flash $version" ] || { echo "kestrova-flash.exe --version printed \"$out\""; exit 1; }
