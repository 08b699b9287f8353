#!/usr/bin/env bash
# The Debian package as a technician gets it: built by CPack from a tree
# configured for installation, checked by lintian, desktop-file-validate and
# appstreamcli, installed with apt-get, run (kestrova-flash --version, its
# --json stream read by jq, its bash completion; the window as a new user on
# the simulated board under Xvfb, driven with xdotool; the station's window on
# two simulated boards), and purged, after which none of its files may be left.
# Run as root, after build/test is built (its make_demo_images makes the
# images; KESTROVA_DEMO_IMAGES names another make_demo_images). Prints
# "Package: passed" or "Package: FAILED (...)"; the exit status says the
# same. On a failure in the window's run, $build/failure.png shows the screen.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/package
demo_images=${KESTROVA_DEMO_IMAGES:-build/test/tools/make_demo_images}
ci_user=kestrova-ci
apn=ci.example

fail() {
  # What the screen showed, when the window was running.
  if [ -n "${display:-}" ]; then DISPLAY=$display import -window root "$build/failure.png" 2>/dev/null || true; fi
  echo "Package: FAILED ($*; the window's output in $build/window.log)"
  exit 1
}
trap 'echo "Package: FAILED (line $LINENO of $0)"' ERR
[ -x "$demo_images" ] || fail "no $demo_images: build build/test first"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVA_WERROR=ON \
  -DKESTROVA_INSTALLED=ON -DKESTROVA_TESTS=OFF \
  -DKESTROVA_ONLY="common;settings;hid;sim;bsl;update;cli;log;resources;app;station" >/dev/null
cmake --build "$build" -j "$(nproc)"
(cd "$build" && cpack -G DEB >/dev/null)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb="$build/kestrova-configurator_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no $deb"

# ---- what the package holds ----
lintian --fail-on error,warning "$deb" || fail "lintian"
content=$(mktemp -d)
work=$(mktemp -d)
xvfb=
pid=
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; fi
  if id "$ci_user" >/dev/null 2>&1; then userdel -r "$ci_user" 2>/dev/null || true; fi
  # A failed check leaves the machine as it found it.
  if dpkg-query -W -f='${Status}' kestrova-configurator 2>/dev/null | grep -q ' installed$'; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq kestrova-configurator >/dev/null 2>&1 || true
  fi
  rm -rf "$content" "$work"
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$content"
rm -f "$build/window.log" "$build/failure.png"
desktop-file-validate "$content"/usr/share/applications/*.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net "$content"/usr/share/metainfo/*.metainfo.xml || fail "appstreamcli validate"
grep -q '<modalias>usb:v2047p0200d\*</modalias>' "$content"/usr/share/metainfo/*.metainfo.xml ||
  fail "the metainfo does not name the board"
for program in KestrovaSetup kestrova-flash kestrova-station; do
  [ -x "$content/usr/bin/$program" ] || fail "the package holds no /usr/bin/$program"
done
for entry in example.kestrova.configurator example.kestrova.station; do
  [ -f "$content/usr/share/applications/$entry.desktop" ] || fail "the package holds no menu entry $entry.desktop"
done
for page in KestrovaSetup kestrova-flash kestrova-station; do
  zcat "$content/usr/share/man/man1/$page.1.gz" | grep -q "$page $version" ||
    fail "the manual page of $page does not carry $version"
done
cmp -s packaging/udev/70-kestrova-bsl.rules "$content/lib/udev/rules.d/70-kestrova-bsl.rules" ||
  fail "the udev rule differs from packaging/udev"

# ---- installed ----
if dpkg-query -W kestrova-configurator >/dev/null 2>&1; then
  apt-get purge -y -qq kestrova-configurator >/dev/null
fi
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "./$deb" >/dev/null ||
  fail "apt-get install"
mapfile -t installed < <(dpkg-query -L kestrova-configurator | while read -r f; do [ -d "$f" ] || echo "$f"; done)
[ "$(/usr/bin/kestrova-flash --version)" = "kestrova-flash $version" ] || fail "kestrova-flash --version"

# The --json stream of the installed program, as a test rig reads it: a
# gang of three simulated boards, one refusing the password.
"$demo_images" "$work" >/dev/null
streams="$PWD/$build"
gang_exit=0
(cd "$work" && KESTROVA_SIM=hub,board,board:refuse-password,board /usr/bin/kestrova-flash --json --gang --fast \
  >"$streams/gang.jsonl" 2>/dev/null) || gang_exit=$?
fatal_exit=0
/usr/bin/kestrova-flash --json --apn >"$streams/fatal.jsonl" 2>/dev/null || fatal_exit=$?
[ "$gang_exit" -eq 9 ] || fail "kestrova-flash --json --gang ended with $gang_exit, not 9"
jq -e -s 'all(.schema == 1) and ([.[] | select(.event == "start") | .port] | sort) == ["1-1.1","1-1.2","1-1.3"]
  and ([.[] | select(.event == "end") | .port] | sort) == ["1-1.1","1-1.2","1-1.3"]
  and ([.[] | select(.event == "end" and .exit_code == 5 and (.cause | length) > 0)] | length) == 1' \
  "$streams/gang.jsonl" >/dev/null || fail "the --json stream of the gang (in $build/gang.jsonl)"
[ "$fatal_exit" -eq 2 ] && [ "$(jq -c '[.event, .exit_code]' "$streams/fatal.jsonl")" = '["fatal",2]' ] ||
  fail "kestrova-flash --json --apn is not one fatal event with exit code 2"

# Completion as bash-completion loads it: the options, and after --port the
# ports of the boards connected now.
complete_words() {
  KESTROVA_SIM=hub,board,board bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _kestrova_flash; echo "${COMPREPLY[*]}"' _ /usr/share/bash-completion/completions/kestrova-flash "$@"
}
[ "$(complete_words kestrova-flash --re)" = "--repeat --record" ] || fail "completion of kestrova-flash --re"
[ "$(complete_words kestrova-flash --port '')" = "1-1.1 1-1.2" ] || fail "completion of kestrova-flash --port"

# The window as a user who never ran it: the first start makes the station's
# folder and keeps the access point name typed; the second finds it there,
# with the demo images copied in, and updates the simulated board with it.
if id "$ci_user" >/dev/null 2>&1; then userdel -r "$ci_user" 2>/dev/null || true; fi
useradd -m "$ci_user"
home=$(getent passwd "$ci_user" | cut -d: -f6)
station="$home/.local/share/kestrova"
[ ! -e "$station" ] || fail "$station exists before the first start"
Xvfb -displayfd 3 -ac -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
display=":$(cat "$work/display")"
dump="$home/board.txt"  # the simulated board's memory, written at the window's end

# Starts the installed window as the user, on the simulated board; prints
# the process id, and the window's id on the next line.
start_window() {
  DISPLAY=$display setpriv --reuid="$ci_user" --regid="$ci_user" --init-groups --reset-env \
    env DISPLAY="$display" KESTROVA_SIM=board KESTROVA_SIM_DUMP="$dump" QT_QPA_PLATFORM=xcb \
    /usr/bin/KestrovaSetup >>"$build/window.log" 2>&1 &
  echo $!
  DISPLAY=$display timeout 20 xdotool search --sync --onlyvisible --name '^kestrova configurator$' | head -1
}
# Clicks at a point of the main window (client coordinates).
click() {
  DISPLAY=$display xdotool mousemove --window "$1" "$2" "$3" sleep 0.2 click 1 sleep 0.3
}
# Points of the main window: the access point name, "Update FW && Save", Exit.
apn_field=(297 178)
update_button=(297 291)
exit_button=(446 479)
wait_end() {
  for _ in $(seq 200); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
  return 1
}

read -r pid window < <(start_window | paste -s -d' ')
[ -n "${window:-}" ] || fail "the window did not show"
sleep 1  # the simulated board arrives, the settings page comes up
click "$window" "${apn_field[@]}"
DISPLAY=$display xdotool key ctrl+a type "$apn"
sleep 0.3
click "$window" "${exit_button[@]}"
wait_end "$pid" || fail "the window did not end at Exit"
[ -d "$station" ] || fail "the first start made no $station"
grep -q "apn=\"$apn\"" "$station/KestrovaSetup.xml" || fail "the settings file keeps no $apn"

"$demo_images" "$station" >/dev/null
chown -R "$ci_user:" "$station"
read -r pid window < <(start_window | paste -s -d' ')
[ -n "${window:-}" ] || fail "the window did not show a second time"
sleep 1
[ -e "$station/KestrovaSetup.lock" ] || fail "no lock in $station while the window runs"
click "$window" "${update_button[@]}"
# The update ends with a message box above the main window.
for _ in $(seq 600); do
  boxes=$(DISPLAY=$display xdotool search --onlyvisible --name '^kestrova configurator$' | wc -l)
  [ "$boxes" -ge 2 ] && break
  sleep 0.1
done
[ "$boxes" -ge 2 ] || fail "no message at the end of the update"
DISPLAY=$display xdotool key Return
sleep 0.5
click "$window" "${exit_button[@]}"
wait_end "$pid" || fail "the window did not end at Exit after the update"
logs=("$station"/logs/*.log.rtf)
[ "${#logs[@]}" -eq 2 ] || fail "expected two log files in $station/logs"
grep -q 'Firmware & Settings were sucesfully uploaded!' "${logs[1]}" ||
  fail "the update did not succeed (see ${logs[1]})"
# The access point name's record: its length, then the text.
board_bytes() { srec_cat "$dump" -ti_txt -crop "$1" "$2" -offset "-$1" -o - -binary; }
[ "$(board_bytes 0xFE00 0xFE01 | od -An -tu1 | tr -d ' ')" = "${#apn}" ] &&
  [ "$(board_bytes 0xFE01 $((0xFE01 + ${#apn})))" = "$apn" ] ||
  fail "the board's access point name record does not hold $apn"

# The station's window as installed, on a station file whose two ports hold
# simulated boards, one refusing the password: each board gets its record
# line and the day's log, the file is remembered for the next start, and
# Ctrl+Q ends the window with exit code 0.
bench="$work/bench"
mkdir -p "$bench"
"$demo_images" "$bench" >/dev/null
cat >"$bench/bench.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<station name="CI bench">
  <loader file="kestrova.1.ldr.txt" sha256="$(sha256sum "$bench/kestrova.1.ldr.txt" | cut -d' ' -f1)"/>
  <firmware file="kestrova.2.fw.txt" sha256="$(sha256sum "$bench/kestrova.2.fw.txt" | cut -d' ' -f1)"/>
  <settings apn="$apn" login="user" password="40817"/>
  <ports>
    <port path="1-1.1" label="Slot 1"/>
    <port path="1-1.2" label="Slot 2"/>
  </ports>
  <record file="records.jsonl"/>
</station>
EOF
DISPLAY=$display XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb KESTROVA_SIM=hub,board,board:refuse-password \
  /usr/bin/kestrova-station "$bench/bench.xml" >>"$build/window.log" 2>&1 &
pid=$!
station_window=$(DISPLAY=$display timeout 20 xdotool search --sync --onlyvisible --name '^CI bench - kestrova station$' | head -1)
[ -n "$station_window" ] || fail "the station's window did not show the station file's name"
for _ in $(seq 300); do
  [ "$(cat "$bench/records.jsonl" 2>/dev/null | wc -l)" -ge 2 ] && break
  sleep 0.1
done
cp "$bench/records.jsonl" "$build/station-records.jsonl" 2>/dev/null || true
jq -e -s '([.[].port] | sort) == ["1-1.1","1-1.2"] and all(.station == "CI bench")
  and ([.[] | select(.result == "success")] | length) == 1' "$bench/records.jsonl" >/dev/null ||
  fail "the station's record (in $build/station-records.jsonl)"
DISPLAY=$display xdotool windowfocus --sync "$station_window" key ctrl+q
wait_end "$pid" || fail "the station's window did not end at Ctrl+Q"
station_exit=0
wait "$pid" || station_exit=$?
pid=
[ "$station_exit" -eq 0 ] || fail "the station's window ended with $station_exit, not 0"
[ "$(cat "$work/config/kestrova-station/last-station-file")" = "$bench/bench.xml" ] ||
  fail "the station's window did not remember its station file"
compgen -G "$bench/CI bench *.log" >/dev/null || fail "no daily log beside the station's record"

kill "$xvfb" && xvfb=

# ---- removed ----
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq kestrova-configurator >/dev/null || fail "apt-get purge"
for f in "${installed[@]}"; do
  [ ! -e "$f" ] || fail "$f is left after purge"
done
[ ! -e /usr/share/doc/kestrova-configurator ] || fail "/usr/share/doc/kestrova-configurator is left after purge"
echo "Package: passed ($(basename "$deb"), ${#installed[@]} files installed, run and purged)"
