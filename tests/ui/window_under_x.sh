#!/usr/bin/env bash
# The search window driven as a user drives it: the real program under a virtual X server
# with a window manager, keys typed with xdotool. Checks what is searched (the window title, a
# saved report), what lands on disk (files a replace rewrote, the settings), and that a
# termination signal while a dialog is open ends the program as Exit does.
#   window_under_x.sh PATH-TO-TRAWLEX
set -euo pipefail
program=$1
for tool in Xvfb openbox xdotool xprop iconv; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing (scripts/setup installs it)"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done  # nothing writes into $work any more
  [ -n "${TRAWLEX_KEEP_WORK:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A display of its own (ctest runs tests side by side, other programs may hold the low
# numbers), and a window manager on it.
display=""
for _ in $(seq 20); do
  n=$((200 + RANDOM % 600))
  [ -e "/tmp/.X$n-lock" ] && continue
  Xvfb ":$n" -screen 0 1280x900x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb=$!
  for _ in $(seq 50); do [ -S "/tmp/.X11-unix/X$n" ] && break; kill -0 "$xvfb" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$xvfb" 2>/dev/null && [ -S "/tmp/.X11-unix/X$n" ]; then
    pids+=("$xvfb")
    display=":$n"
    break
  fi
done
[ -n "$display" ] || fail "no virtual X server could start: $(cat "$work/xvfb.log")"
export DISPLAY=$display
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
# The manager announces itself before it is done starting; a window mapped in between stays
# unmanaged and unseen.
sleep 2

# Settings and runtime folders of its own; no session bus, so nothing waits for one.
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
tree="$work/tree"
mkdir -p "$tree/tree/deep"
printf 'foo fooFOO FOO\nint x\n' >"$tree/a.txt"
printf 'foo\n' >"$tree/tree/deep/b.txt"
printf 'FOO\n' >"$tree/tree/c.txt"
settings() { iconv -f UTF-16 -t UTF-8 "$XDG_CONFIG_HOME/vantorel/Trawlex.reg"; }

app=0
start() {
  "$program" "$@" >"$work/out.log" 2>"$work/err.log" &
  app=$!
  pids+=("$app")
  wait_window "^Trawlex"
  wait_active "^Trawlex"
}
# Waits (30 s at most) until the window that takes the keys is titled to match: keys typed
# before the window manager has given it the focus would go nowhere.
wait_active() {
  for _ in $(seq 300); do
    xdotool getactivewindow getwindowname 2>/dev/null | grep -qE -- "$1" && return 0
    sleep 0.1
  done
  fail "the window titled /$1/ never took the keys; active: $(xdotool getactivewindow getwindowname 2>&1)"
}
# Waits (30 s at most) for a window whose title matches the regular expression.
wait_window() {
  for _ in $(seq 300); do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  fail "no window titled /$1/; windows: $(xdotool search --name . getwindowname %@ 2>/dev/null | tr '\n' ','); visible: $(xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null | tr '\n' ','); errors: $(cat "$work/err.log")"
}
keys() { xdotool key --clearmodifiers --delay 60 "$@"; sleep 0.3; }
# Waits for the title of a search that has ended (a running one adds the program's state).
wait_idle() { wait_window "$1"; sleep 0.5; wait_window "$1"; }
# Presses KEYS until a window titled REGEX shows (an action is off while a search still runs).
press_until() {  # REGEX KEYS...
  local regex=$1
  shift
  for _ in $(seq 10); do
    keys "$@"
    for _ in $(seq 30); do
      xdotool search --onlyvisible --name "$regex" >/dev/null 2>&1 && return 0
      sleep 0.1
    done
  done
  fail "no window titled /$regex/ after the keys $*"
}
type_text() { xdotool type --clearmodifiers --delay 40 "$1"; sleep 0.3; }
wait_content() {  # FILE TEXT
  for _ in $(seq 100); do grep -qF -- "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  fail "$1 does not hold '$2': $(cat "$1" 2>/dev/null)"
}
# Sends a signal with a dialog open: the program ends as Exit does, with status 0.
end_with() {
  kill "-$1" "$app"
  local status=0
  wait "$app" || status=$?
  [ "$status" -eq 0 ] || fail "$1 with a dialog open ended with status $status: $(cat "$work/err.log")"
}

# 1. Histories from a first run: a target "fooFOO" and a directory ".../tree/deep".
start -t fooFOO -d "$tree/tree/deep"
wait_window "^Trawlex: fooFOO$"
end_with TERM

# 2. Typed text is what is searched: no completion from the histories, no case-different entry.
start
keys ctrl+a
type_text FOO
keys shift+Tab ctrl+a
type_text "$tree/tree"
keys F3
wait_idle "^Trawlex: FOO$"
press_until "Save" ctrl+s
keys ctrl+a
type_text "$work/report.txt"
keys Return
wait_content "$work/report.txt" "Target: FOO"
grep -qxF $'Base directory: '"$tree/tree"$'\r' "$work/report.txt" || fail "report: $(cat "$work/report.txt")"

# 3. Ctrl+A in the target box selects its text, not every find.
keys alt+t ctrl+a
type_text int
keys Return
wait_idle "^Trawlex: int$"

# Windows the search window owns stay above it when it is clicked.
press_until "^Select Directory$" ctrl+d
main=$(xdotool search --onlyvisible --name "^Trawlex: int$" | head -1)
dialog=$(xdotool search --onlyvisible --name "^Select Directory$" | head -1)
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove $((X + 40)) $((Y + HEIGHT - 80)) click 1  # the results list
sleep 0.5
top=$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*, //')
[ "$((top))" = "$dialog" ] || fail "Select Directory went behind its search window"
xdotool windowactivate --sync "$dialog"
keys Escape
xdotool windowactivate --sync "$main"

# The Usage window, widened for its lines once shown, still lies on the screen.
press_until "^Usage$" alt+h Down Return
eval "$(xdotool getwindowgeometry --shell "$(xdotool search --onlyvisible --name "^Usage$" | head -1)")"
# (xdotool reports the left edge a pixel to the right, and the frame's border may overhang.)
[ "$X" -ge 0 ] && [ $((X + WIDTH)) -le 1282 ] || fail "Usage lies off the screen: $WIDTH wide at $X"
keys Escape
xdotool windowactivate --sync "$main"

# 4. Replace: Escape with the list of "with" open closes only the list; what is typed is written.
search_and_replace() {  # TARGET REPLACEMENT
  keys alt+t ctrl+a
  type_text "$1"
  keys Return
  wait_idle "^Trawlex: $1$"
  keys alt+e Return        # Select All Finds
  press_until "^Replace$" alt+e Down Down Return  # Replace...
  keys ctrl+a
  type_text "$2"
  if [ -n "${3:-}" ]; then  # the history has an entry: its list opens
    keys alt+Down
    keys Escape
    sleep 0.5
    xdotool search --onlyvisible --name "^Replace$" >/dev/null || fail "Escape in the open list closed the dialog"
  fi
  keys Tab Tab space       # the Replace button
}
search_and_replace foo QUUX
wait_content "$tree/tree/c.txt" "QUUX"
keys Escape
search_and_replace QUUX quux list  # "QUUX" is in the history now
wait_content "$tree/tree/c.txt" "quux"
keys Escape

# 5. A signal while the Font dialog is open: every setting is saved, status 0.
press_until "^Font$" ctrl+f
end_with TERM
settings | grep -qF '"cbxTarget.Text"="QUUX"' || fail "the last search was not saved: $(settings)"
settings | grep -qF '"fmSearch.WindowState"' || fail "the window's settings were not saved"

# The Save As dialog (a window started with switches) and Ctrl+C in a terminal.
start -t foo -d "$tree"
wait_idle "^Trawlex: foo$"
press_until "Save" ctrl+s
end_with INT

# The printer setup dialog, from the File menu.
start
keys alt+f Return  # the first item enabled without results: Setup Printer
for _ in $(seq 100); do
  [ "$(xdotool search --onlyvisible --name . 2>/dev/null | wc -l)" -gt 1 ] && break
  sleep 0.1
done
end_with TERM
! grep -q "invalid pointer\|Aborted\|double free" "$work/err.log" || fail "$(cat "$work/err.log")"
echo "PASS"
