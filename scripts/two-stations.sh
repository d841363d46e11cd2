#!/usr/bin/env bash
# Two stations selecting and deleting the same customer's photos at once, by hand: first on a
# local folder, then on a real Samba share served and mounted on 127.0.0.1 when this machine's
# kernel can mount CIFS (needs root, Debian's samba and cifs-utils).
#   scripts/two-stations.sh [commands per station]      (default 1000)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
operations=${1:-1000}
build="$top/build-soak"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" tst_station_processes || exit 1
export QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 LC_ALL=C.UTF-8 SELVANA_OPERATIONS=$operations
test_program="$build/tests/tst_station_processes"

echo "== two stations on a local folder"
"$test_program" --gtest_filter='TwoStations.*'
status=$?

echo "== two stations on a Samba share on 127.0.0.1"
work=$(mktemp -d /tmp/selvana-smb-XXXXXX)
mkdir -p "$work"/{share,mount,run,lock,state,cache,private}
cat >"$work/smb.conf" <<CONF
[global]
  server role = standalone server
  map to guest = Bad User
  interfaces = 127.0.0.1
  bind interfaces only = yes
  pid directory = $work/run
  lock directory = $work/lock
  state directory = $work/state
  cache directory = $work/cache
  private dir = $work/private
  log file = $work/log.%m
  unix charset = UTF-8
[share]
  path = $work/share
  read only = no
  guest ok = yes
  force user = root
CONF
cleanUp() {
  mountpoint -q "$work/mount" && umount "$work/mount"
  [[ -f $work/run/smbd.pid ]] && kill "$(cat "$work/run/smbd.pid")" 2>/dev/null
  sleep 1
  rm -rf "$work"
}
trap cleanUp EXIT
if ! command -v smbd >/dev/null || ! command -v mount.cifs >/dev/null; then
  echo "samba or cifs-utils missing: apt-get install -y samba cifs-utils"
  exit $status
fi
smbd -D -s "$work/smb.conf"
for _ in $(seq 50); do [[ -f $work/run/smbd.pid ]] && break; sleep 0.1; done
if ! mount -t cifs //127.0.0.1/share "$work/mount" -o guest,vers=3.0,iocharset=utf8; then
  echo "the Samba share could not be mounted here (no CIFS in this kernel?): not run on it"
  exit $status
fi
SELVANA_TREE_BASE="$work/mount" "$test_program" --gtest_filter='TwoStations.*' || status=1
exit $status
