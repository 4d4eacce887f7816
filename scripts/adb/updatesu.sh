#!/bin/sh
# Installs a server program (.su file) on a player through the Android debug
# bridge. veluna runs it as: updatesu.sh PLAYER_IP FILE
# Both come in as arguments and are only ever used quoted, so a path with
# blanks or shell characters reaches adb as the one argument it is.
set -eu

if [ "$#" -ne 2 ]; then
    echo "usage: $0 PLAYER_IP FILE" >&2
    exit 2
fi
ip=$1
file=$2
device="$ip:5555"
target=/data/local/tmp/update.su

adb disconnect "$device" >/dev/null 2>&1 || true
adb connect "$device"
adb -s "$device" push "$file" "$target"
adb -s "$device" shell chmod 755 "$target"
# The player's service installs the program and restarts itself.
adb -s "$device" shell "$target"
adb disconnect "$device" || true
