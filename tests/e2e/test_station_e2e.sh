#!/usr/bin/env bash
# The whole station as a user works it: the real selvana binary under Xvfb with openbox, driven
# with xdotool (keys, clicks, the right-click menu). After each step the files on disk are
# checked and a screenshot is kept in <build>/artifacts/e2e.
set -euo pipefail
build=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)
if [ -z "${DISPLAY:-}" ]; then
  exec "$top/scripts/with-x11.sh" bash "$0" "$build"
fi

shots="$build/artifacts/e2e"
rm -rf "$shots"
mkdir -p "$shots"
work=$(mktemp -d /tmp/selvana-e2e.XXXXXX)
station_pid=
cleanup() {
  [ -n "$station_pid" ] && kill "$station_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

step=0
fail() {
  echo "FAILED at step $step: $*" >&2
  "$build/grab_screen" "$shots/failure.png" || true
  exit 1
}
shot() {
  step=$((step + 1))
  sleep 0.3
  "$build/grab_screen" "$(printf '%s/%02d-%s.png' "$shots" "$step" "$1")" || true
}
# Waits until a command succeeds (5 s).
wait_for() {
  for _ in $(seq 1 100); do
    if "$@" >/dev/null 2>&1; then return 0; fi
    sleep 0.05
  done
  return 1
}
window_named() { xdotool search --onlyvisible --name "^$1\$"; }
not_window_named() { ! xdotool search --onlyvisible --name "^$1\$"; }
active_is() { [ "$(xdotool getactivewindow getwindowname 2>/dev/null)" = "$1" ]; }
gone() { ! kill -0 "$station_pid" 2>/dev/null; }
# Entries of a folder in the file system's own order (what the station lists).
listing() { ls -U -A "$1" | grep -v '^\.' || true; }
photos_in() { ls -U -A "$1" | grep -i '\.jpg$' || true; }
index_of() { listing "$1" | grep -n -x -F "$2" | cut -d: -f1; }

# ---- the photo tree: two customers, the originals, 入库 and 精修 ----
root="$work/photos"
mkdir -p "$root/张三/入库" "$root/张三/精修" "$root/李四"
for i in 1 2 3 4 5; do
  "$build/make_photos" photo "$root/张三/z$i.jpg" 1600 1067 --seed "$i"
done
"$build/make_photos" photo "$root/张三/入库/s1.jpg" 1600 1067 --seed 11
"$build/make_photos" photo "$root/张三/入库/s2.jpg" 1067 1600 --seed 12
"$build/make_photos" photo "$root/张三/精修/r1.jpg" 1600 1067 --seed 21
"$build/make_photos" photo "$root/张三/精修/r2.jpg" 1600 1067 --seed 22
for i in 1 2; do
  "$build/make_photos" photo "$root/李四/l$i.jpg" 1600 1067 --seed "$((30 + i))"
done
cp -a "$root" "$work/before"

mkdir -p "$work/bin"
cp "$build/selvana" "$work/bin/"
printf '[设置]\n图片目录=%s\n统计地址=http://127.0.0.1:9/count?Selvana\n' "$root" >"$work/bin/cif.ini"

"$work/bin/selvana" >"$work/station.log" 2>&1 &
station_pid=$!

# Picks `customer` in the login window's list (focus starts in the password box) and logs in.
log_in() {
  local customer=$1 password=$2 index
  index=$(index_of "$root" "$customer")
  xdotool key --clearmodifiers shift+Tab Home
  for _ in $(seq 2 "$index"); do xdotool key Down; done
  xdotool key Tab ctrl+a BackSpace
  [ -n "$password" ] && xdotool type --delay 30 "$password"
  xdotool key Return
}
# Chooses item `n` (1-based) of a folder list of the main window, by a click and the keyboard.
choose_item() {
  local x=$1 n=$2
  xdotool mousemove "$x" 18 click 1
  sleep 0.4
  xdotool key Home
  for _ in $(seq 2 "$n"); do xdotool key Down; done
  xdotool key Return
  sleep 0.3
}
menu_item() { # opens the canvas menu and picks item n
  xdotool mousemove 600 500 click 3
  sleep 0.4
  for _ in $(seq 1 "$1"); do xdotool key Down; done
  xdotool key Return
}

# ---- log in: a wrong password first ----
wait_for window_named "密码登入" || fail "no login window"
shot login
log_in 张三 wrong
wait_for active_is "信息：" || fail "no message for a wrong password"
shot wrong-password
xdotool key Return
wait_for active_is "密码登入" || fail "the login window did not stay open"
log_in 张三 ""
wait_for not_window_named "密码登入" || fail "the login window stayed"
sleep 1
gone && fail "the station ended after a right password"
shot logged-in

originals=($(photos_in "$root/张三"))
[ ${#originals[@]} = 5 ] || fail "expected five originals"
projects=($(listing "$root/张三"))
project=${projects[0]} # the first project folder is chosen after login

# ---- page with keys and clicks, then select from the originals ----
xdotool key Right
shot key-right
xdotool mousemove 1500 600 click 1 # right half: next
shot click-next
xdotool mousemove 300 600 click 1 # left half: previous
shot click-previous
xdotool key Return # selects photo 2 of the originals
sleep 0.5
[ -f "$root/张三/$project/${originals[1]}" ] || fail "Enter did not move ${originals[1]} to $project"
[ ! -e "$root/张三/${originals[1]}" ] || fail "${originals[1]} is still in the originals"
cmp -s "$root/张三/$project/${originals[1]}" "$work/before/张三/${originals[1]}" || fail "moved photo changed"
shot selected-from-originals

# ---- delete in the originals is refused ----
xdotool key Delete
wait_for active_is "信息：" || fail "no message for deleting an original"
shot delete-original-refused
xdotool key Return
[ "$(photos_in "$root/张三" | wc -l)" = 4 ] || fail "an original was deleted"

# ---- the source list: 入库; select copies, delete moves back ----
stock_index=$(($(index_of "$root/张三" 入库) + 1))
choose_item 200 "$stock_index"
shot source-stock-in
stock=($(photos_in "$root/张三/入库"))
refine_index=$(index_of "$root/张三" 精修)
choose_item 550 "$refine_index" # project: 精修
xdotool key Return # copies stock-in photo 1 into 精修
sleep 0.5
[ -f "$root/张三/精修/${stock[0]}" ] || fail "select from 入库 did not copy ${stock[0]}"
[ -f "$root/张三/入库/${stock[0]}" ] || fail "select from 入库 removed the source"
shot selected-from-stock-in
xdotool key Left Delete # back to photo 1, delete: moves back to the originals
sleep 0.5
[ -f "$root/张三/${stock[0]}" ] || fail "delete in 入库 did not move ${stock[0]} back"
[ ! -e "$root/张三/入库/${stock[0]}" ] || fail "${stock[0]} still in 入库"
shot deleted-from-stock-in

# ---- delete in 精修: kept in the hidden deleted-photos folder ----
refine_source=$((refine_index + 1))
choose_item 200 "$refine_source"
refined=($(photos_in "$root/张三/精修"))
xdotool key Delete
sleep 0.5
[ ! -e "$root/张三/精修/${refined[0]}" ] || fail "delete in 精修 left ${refined[0]}"
[ -f "$root/张三/.回收站/${refined[0]}" ] || fail "${refined[0]} not kept in .回收站"
shot deleted-from-refined

# ---- change the password, then change customer with it ----
menu_item 1
wait_for active_is "密码修改" || fail "no password-change window"
xdotool key Tab # the old password is empty
xdotool type --delay 30 "5678"
shot password-change
xdotool key Return
wait_for active_is "信息：" || fail "no message after the password change"
xdotool key Return
[ "$(stat -c %s "$work/bin/dat.ini")" = 12 ] || fail "dat.ini should hold four groups"

menu_item 2
wait_for active_is "密码登入" || fail "no login window for 更改客户"
log_in 李四 wrong
wait_for active_is "信息：" || fail "the old empty password was accepted after the change"
xdotool key Return
log_in 李四 5678
sleep 1
shot changed-customer
xdotool key Return # selects 李四's first photo into... nothing: 李四 has no project folder
wait_for active_is "信息：" || fail "select without a project folder was not refused"
xdotool key Return
[ "$(photos_in "$root/李四" | wc -l)" = 2 ] || fail "李四's photos moved"

# ---- quit from the menu ----
menu_item 3
wait_for gone || fail "退出 did not end the station"
code=0
wait "$station_pid" || code=$?
station_pid=
[ "$code" = 0 ] || fail "exit code $code"
step=$((step + 1))
echo "end-to-end: $step steps passed; screenshots in $shots"
