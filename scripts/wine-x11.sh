# shellcheck shell=bash
# Sourced by the scripts that drive plimsy.exe's window under Wine: a display
# server of their own (Xvfb, on a free display number) with a window manager
# (openbox), and ways to find, click, type into and photograph Wine's windows
# there. Wine draws a window's client area as one X window, as large as the
# dialog template says in dialog units; a control is clicked where its
# rectangle in resources/dialogs/*.dlg puts it.
#
# The caller sets an EXIT trap that calls x11_stop (after stopping Wine). Every
# wait here is bounded.

x11_xvfb_pid=""
x11_openbox_pid=""

# x11_start DIR: starts Xvfb and openbox, their logs in DIR, and exports DISPLAY.
x11_start() {
  local dir=$1 i
  rm -f "$dir/x11-display"
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$dir/x11-display" >"$dir/xvfb.log" 2>&1 &
  x11_xvfb_pid=$!
  # The display number is written once the server takes connections.
  for ((i = 0; i < 200; i++)); do
    [ -s "$dir/x11-display" ] && break
    kill -0 "$x11_xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -s "$dir/x11-display" ]; then
    echo "Xvfb did not start: $(cat "$dir/xvfb.log")" >&2
    return 1
  fi
  DISPLAY=":$(head -1 "$dir/x11-display")"
  export DISPLAY
  unset WAYLAND_DISPLAY XAUTHORITY
  openbox --sm-disable >"$dir/openbox.log" 2>&1 &
  x11_openbox_pid=$!
  for ((i = 0; i < 200; i++)); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    kill -0 "$x11_openbox_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "openbox did not start: $(cat "$dir/openbox.log")" >&2
  return 1
}

# Stops what x11_start started, and only that.
x11_stop() {
  local pid i
  for pid in "$x11_openbox_pid" "$x11_xvfb_pid"; do
    [ -n "$pid" ] || continue
    kill "$pid" 2>/dev/null || continue
    for ((i = 0; i < 50; i++)); do
      case "$(ps -o stat= -p "$pid" 2>/dev/null)" in
        "" | Z*) break ;;
      esac
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  x11_openbox_pid=""
  x11_xvfb_pid=""
}

# The host path as Wine's programs see it: the host's / is drive Z:.
windows_path() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }

# The visible windows whose title matches the extended regular expression
# REGEX (xdotool ignores case), one id a line, in stacking order.
visible_windows() { xdotool search --onlyvisible --name "$1" 2>/dev/null || true; }

# wait_for_window REGEX SECONDS [EXCEPT_ID]: prints the id of the newest
# visible window whose title matches, other than EXCEPT_ID.
wait_for_window() {
  local regex=$1 except=${3:-} end=$((SECONDS + $2)) id
  while true; do
    id=$(visible_windows "$regex" | grep -vxF "${except:-none}" | tail -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    [ $SECONDS -lt $end ] || return 1
    sleep 0.25
  done
}

is_viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }

# wait_until_gone ID SECONDS: the window is closed or hidden.
wait_until_gone() {
  local end=$((SECONDS + $2))
  while is_viewable "$1"; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.25
  done
}

active_window() { xdotool getactivewindow 2>/dev/null || true; }

# activate ID: the window manager makes it the active window, which gets the
# keyboard; fails when that does not happen within 10 seconds.
activate() {
  local end=$((SECONDS + 10))
  while [ "$(active_window)" != "$1" ]; do
    [ $SECONDS -lt $end ] || return 1
    timeout 5 xdotool windowactivate "$1" 2>/dev/null || true
    sleep 0.25
  done
}

# press ID KEY...: keys for the window ID, made active first.
press() {
  local id=$1
  shift
  activate "$id" && xdotool key --clearmodifiers "$@"
}

# control_center DLG_FILE WINDOW CONTROL_ID [left]: prints "x y", the centre of
# the control in the window's pixels (with "left", a point near its left edge:
# the box of a check box, whose label may have grown to the right).
control_center() {
  local dlg=$1 window=$2 control=$3 where=${4:-centre} size rect geometry
  local dialog_width dialog_height x y w h width height
  size=$(sed -n 's/^DIALOG  *[0-9]*  *\([0-9]*\)  *\([0-9]*\).*/\1 \2/p' "$dlg")
  rect=$(sed -n "s/^CONTROL  *$control  *[^ ]*  *\"[^\"]*\"  *\([0-9]*\),\([0-9]*\),\([0-9]*\),\([0-9]*\) .*/\1 \2 \3 \4/p" "$dlg")
  if [ -z "$size" ] || [ -z "$rect" ]; then
    echo "control_center: no control $control in $dlg" >&2
    return 1
  fi
  read -r dialog_width dialog_height <<<"$size"
  read -r x y w h <<<"$rect"
  geometry=$(xdotool getwindowgeometry --shell "$window") || return 1
  width=$(sed -n 's/^WIDTH=//p' <<<"$geometry")
  height=$(sed -n 's/^HEIGHT=//p' <<<"$geometry")
  if [ "$where" = left ]; then x=$((x + (w < 12 ? w / 2 : 6))); else x=$((x + w / 2)); fi
  y=$((y + h / 2))
  echo "$((x * width / dialog_width)) $((y * height / dialog_height))"
}

# click DLG_FILE WINDOW CONTROL_ID [left]: a left click on the control.
click() {
  local point
  point=$(control_center "$@") || return 1
  activate "$2" || return 1
  # shellcheck disable=SC2086
  xdotool mousemove --window "$2" $point click 1
}

# type_into DLG_FILE WINDOW CONTROL_ID TEXT: replaces an edit line's text, as
# a person would: a click into it, all of it selected, the new text typed.
type_into() {
  click "$1" "$2" "$3" || return 1
  xdotool key --clearmodifiers End shift+Home BackSpace
  xdotool type --clearmodifiers --delay 15 -- "$4"
}

# frame_of ID: the window manager's frame around the window (the child of the
# root that holds it), or the window itself when it has none.
frame_of() {
  local id=$1 parent root
  root=$(xwininfo -root | sed -n 's/.*Window id: \(0x[0-9a-f]*\).*/\1/p')
  id=$(printf '0x%x' "$id")
  while true; do
    parent=$(xwininfo -tree -id "$id" | sed -n 's/.*Parent window id: \(0x[0-9a-f]*\).*/\1/p')
    if [ -z "$parent" ] || [ "$parent" = "$root" ]; then
      echo "$id"
      return 0
    fi
    id=$parent
  done
}

# photograph ID FILE: the window with its frame, as PNG.
photograph() { import -window "$(frame_of "$1")" "$2"; }
