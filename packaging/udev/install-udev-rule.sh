#!/bin/sh
# Installs the udev rule that lets the logged-in user use the board, and
# applies it to a board that is already connected. Run as root:
#   sudo sh packaging/udev/install-udev-rule.sh
set -eu
rule=70-kestrova-bsl.rules
here=$(dirname "$0")
install -D -m 0644 "$here/$rule" "/etc/udev/rules.d/$rule"
udevadm control --reload-rules
udevadm trigger --subsystem-match=hidraw --action=change
echo "Installed /etc/udev/rules.d/$rule; the board's node now belongs to the logged-in user."
