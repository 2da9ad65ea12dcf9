#!/usr/bin/env bash
# Pictures of the real program for the README and the AppStream file. Starts the built program
# under Xvfb, with a notification area (trayer) and a sample configuration; switches two slots
# on, relays a few connections through them, opens the tray menu and saves PNGs into docs/.
# Run it again whenever a window changes.
# Usage: tools/take-pictures.sh [BUILD_DIR]   (default build; `make build` first)
# Needs: xvfb xdotool imagemagick trayer python3 (apt-get install xvfb xdotool imagemagick trayer)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
docs=$PWD/docs
for tool in Xvfb xdotool import trayer python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool: apt-get install xvfb xdotool imagemagick trayer python3" >&2; exit 1; }
done
[ -x "$build/quorvane" ] && [ -x "$build/tools/qv_sample_config" ] || { echo "build first: make build" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT

# A copy of the program in a folder of its own keeps its files beside it, away from the build.
mkdir "$work/app"
cp "$build/quorvane" "$work/app/"
# Ports that read well in the picture when they are free, any free ones otherwise.
read -r in1 in2 out1 out2 < <(python3 -c '
import socket
ports = []
for wanted in (8080, 2222, 18080, 10022):
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", wanted))
    except OSError:
        s.bind(("127.0.0.1", 0))
    ports.append(s.getsockname()[1])
    s.close()
print(*ports)')
"$build/tools/qv_sample_config" "$work/app/DataQRVN.qrvd" "$in1" "$out1" 127.0.0.1 "$in2" "$out2" localhost

# Two destinations that answer every line and keep their connections open.
python3 - "$out1" "$out2" <<'PY' &
import socket, sys, threading
def serve(port):
    listener = socket.create_server(("127.0.0.1", port))
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=lambda c=conn: [c.sendall(d) for d in iter(lambda: c.recv(4096), b"")], daemon=True).start()
for port in sys.argv[1:]:
    threading.Thread(target=serve, args=(int(port),), daemon=True).start()
threading.Event().wait()
PY
pids+=($!)

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")
export QT_QPA_PLATFORM=xcb
trayer --edge top --align right --widthtype request --height 24 --SetDockType false >/dev/null 2>&1 &
pids+=($!)
sleep 1
(cd "$work" && exec ./app/quorvane) >"$work/program.log" 2>&1 &
pids+=($!)

main=$(xdotool search --sync --onlyvisible --name '^Quorvane - Internet Port Mapping$' | head -1)
xdotool windowfocus --sync "$main"
# The first field has the focus; Enable is three fields on, and after it the next slot's first field.
for _ in 1 2; do xdotool key --window "$main" Tab Tab Tab space; sleep 0.5; done

# Three connections through slot 1 and two through slot 2, each saying hello and staying open.
python3 - "$in1" "$in1" "$in1" "$in2" "$in2" <<'PY' &
import socket, sys, threading
links = [socket.create_connection(("127.0.0.1", int(p))) for p in sys.argv[1:]]
for link in links:
    link.sendall(b"hello\n")
    link.recv(64)
threading.Event().wait()
PY
pids+=($!)
sleep 2

# The tray menu opens at the pointer on a right click on the icon.
read -r tx ty < <(xdotool search --onlyvisible --class trayer getwindowgeometry --shell | awk -F= '
  /^X=/ {x=$2} /^Y=/ {y=$2} /^WIDTH=/ {w=$2} /^HEIGHT=/ {h=$2} END {print x + w - h/2, y + h/2}')
xdotool mousemove "$tx" "$ty" click 3
sleep 1
mkdir -p "$docs"
eval "$(xdotool getwindowgeometry --shell "$main")"
import -window root -crop "1280x$((HEIGHT + Y))+0+0" "$docs/main-window.png"
xdotool key Escape
sleep 0.5

# A secondary window, saved as it shows, then closed through its own File, "Close" (there is no
# window manager to close it, and Escape does not close these windows).
close_window() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove $((X + 15)) $((Y + 8)) click 1
  sleep 0.7
  xdotool mousemove $((X + 40)) $((Y + 30)) click 1
  sleep 0.7
}
snap() {
  local title=$1 file=$2 window
  window=$(xdotool search --sync --onlyvisible --name "^Quorvane - Internet Port Mapping - $title\$" | head -1)
  sleep 1
  import -window "$window" "$docs/$file"
  close_window "$window"
}
xdotool windowfocus --sync "$main"
xdotool key --window "$main" ctrl+p
snap "Advanced Options" advanced-options.png
# Options, "Settings" by the mouse: Ctrl+E is taken by the focused edit (end of line).
xdotool mousemove 68 8 click 1
sleep 0.7
xdotool mousemove 93 95 click 1
snap "Settings" settings.png
echo "pictures saved in $docs: $(cd "$docs" && ls ./*.png | xargs)"
