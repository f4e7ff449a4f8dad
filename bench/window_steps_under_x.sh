#!/usr/bin/env bash
# Times what the user waits for in the real window: the program under a virtual X server with
# a window manager runs a search given on its command line, then sorts by size, sorts in
# descending order, turns "Show only filenames" on and off and selects entries, each from the
# keyboard or the mouse as a user would. A step lasts from the key or click until the program
# stops using the processor (its CPU time as the system counts it, in ticks of 10 ms).
# Leaves a picture of the window in $SHOTS (default /tmp) for a person to look at.
#   window_steps_under_x.sh PATH-TO-TRAWLEX DIR TARGET [SWITCH VALUE ...]
set -euo pipefail
program=$1 dir=$2 target=$3
shift 3
shots=${SHOTS:-/tmp}
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

display=""
for _ in $(seq 20); do
  n=$((200 + RANDOM % 600))
  [ -e "/tmp/.X$n-lock" ] && continue
  Xvfb ":$n" -screen 0 1280x900x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb=$!
  for _ in $(seq 50); do [ -S "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  if kill -0 "$xvfb" 2>/dev/null; then pids+=("$xvfb"); display=":$n"; break; fi
done
[ -n "$display" ] || { echo "no X server" >&2; exit 1; }
export DISPLAY=$display
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
sleep 2
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

now_ms() { echo $(($(date +%s%N) / 1000000)); }
cpu() { awk '{print $14 + $15}' "/proc/$app/stat"; }
# Waits until the program's CPU time has not moved for `quiet` ms; prints when it last moved.
settle() {
  local quiet=$1 last moved
  last=$(cpu)
  moved=$(now_ms)
  while [ $(($(now_ms) - moved)) -lt "$quiet" ]; do
    sleep 0.005
    local c
    c=$(cpu)
    if [ "$c" != "$last" ]; then last=$c; moved=$(now_ms); fi
  done
  echo "$moved"
}
step() {
  local name=$1
  shift
  local start end
  start=$(now_ms)
  "$@"
  end=$(settle 300)
  printf '%s: %d ms\n' "$name" $((end - start))
}

start=$(now_ms)
"$program" -d "$dir" -t "$target" "$@" 2>"$work/err.log" &
app=$!
pids+=("$app")
for _ in $(seq 100); do xdotool search --onlyvisible --name "^Trawlex: " >/dev/null 2>&1 && break; sleep 0.1; done
win=$(xdotool search --onlyvisible --name "^Trawlex: " | head -1)
end=$(settle 1000)
printf 'search and listing: %d ms\n' $((end - start))
xdotool windowactivate --sync "$win"
eval "$(xdotool getwindowgeometry --shell "$win")"
# The results list lies below the inputs: a click at its middle selects an entry.
list_x=$((X + WIDTH / 3)) list_y=$((Y + HEIGHT / 2))
xdotool mousemove "$list_x" "$list_y" click 1
settle 300 >/dev/null
step "sort by size (Shift+F2)" xdotool key --clearmodifiers shift+F2
step "select (Down)" xdotool key --clearmodifiers Down
step "select (click)" xdotool mousemove "$list_x" $((list_y + 40)) click 1
import -window root "$shots/trawlex-window-steps.png"
step "to the last entry (End)" xdotool key --clearmodifiers End
step "sort by name (Shift+F1)" xdotool key --clearmodifiers shift+F1
# The View menu opens on "Show only filenames"; "Sort in descending order" is three below it.
# Only the key that chooses the entry is timed.
menu() {
  xdotool key --clearmodifiers alt+v
  sleep 0.5
  for _ in $(seq "$1"); do xdotool key Down; sleep 0.1; done
  settle 300 >/dev/null
}
menu 0
step "Show only filenames on" xdotool key Return
menu 0
step "Show only filenames off" xdotool key Return
menu 3
step "Sort in descending order" xdotool key Return
