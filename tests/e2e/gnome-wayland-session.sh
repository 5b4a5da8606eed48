#!/usr/bin/env bash
# gnome-wayland-session.sh [--size WxH] [--scale N] CMD...
# Runs CMD inside a throwaway GNOME Shell 43 Wayland session (the default desktop session of
# Debian 12 and Ubuntu), headless: a private session and system bus, `gnome-shell --wayland
# --headless --virtual-monitor WxH`, Xwayland started on demand, the AppIndicator extension
# enabled. CMD gets WAYLAND_DISPLAY, DISPLAY (Xwayland) and XAUTHORITY as in a real session
# (QT_QPA_PLATFORM unset) and these commands on PATH, whose input goes through the shell's own
# input path, so it reaches the top bar, the shell's menus, Wayland and X windows alike:
#   gw-click X Y [BUTTON] [COUNT]  move the pointer to X,Y (logical pixels) and click (1 left,
#                           3 right) COUNT times (2: a double click)
#   gw-move X Y             move the pointer
#   gw-key KEYVAL...        press and release keys by keyval (0x61 'a', 0xff1b Escape, 0xff0d Return)
#   gw-type TEXT            type ASCII text
#   gw-shot FILE.png        screenshot of the whole screen
#   gw-eval JS              run JavaScript in the shell; prints its JSON result
#   gw-windows              the windows the shell manages, one a line:
#                           "TITLE" X Y WIDTH HEIGHT focus=0|1 override-redirect=0|1
# A program can send a whole step's input in one org.gnome.Shell.Eval of the helpers behind
# them: global.gw.click(x, y, button, count), .move(x, y), .keys([keyval, ...]), .type(text),
# .windows() (objects with title, x, y, width, height, focus, overrideRedirect, drawn).
# --scale N runs the monitor at scale N, as GNOME's display settings do (WxH are then physical
# pixels), and gives X clients Xft.dpi 96 x N, as GNOME's settings daemon does; stage, Xwayland
# and the positions above are all in physical pixels then. The shell's log is $GW_SHELL_LOG.
# The overview is closed before CMD runs. Exits 77 (a skip for CTest), with the reason on
# stderr, when the shell cannot start here; exits 2 when a package is missing
# (scripts/install-deps.sh installs them).
set -u
size=1280x800
scale=1
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size=$2; shift 2 ;;
    --scale) scale=$2; shift 2 ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--size WxH] [--scale N] CMD..." >&2; exit 2; }
for bin in gnome-shell Xwayland gdbus gsettings dbus-run-session dbus-daemon python3 xrdb; do
  command -v "$bin" >/dev/null || { echo "gnome-wayland-session: $bin is missing; run scripts/install-deps.sh" >&2; exit 2; }
done
[ -d /usr/share/gnome-shell/extensions/ubuntu-appindicators@ubuntu.com ] \
  || { echo "gnome-wayland-session: gnome-shell-extension-appindicator is missing" >&2; exit 2; }

# Mutter puts Xwayland's socket there and refuses a folder that not everyone may write to, which
# an X server started before it may have left behind.
if [ -d /tmp/.X11-unix ] && [ -O /tmp/.X11-unix ] && [ ! -w /tmp/.X11-unix -o "$(stat -c %a /tmp/.X11-unix)" != 1777 ]; then
  chmod 1777 /tmp/.X11-unix
fi
root=$(mktemp -d /tmp/zentrow-gnome-wayland.XXXXXX)
# Services the session started may still be writing their settings for a moment.
trap 'rm -rf "$root" 2>/dev/null || { sleep 1; rm -rf "$root"; }' EXIT
mkdir -p "$root/home/.config" "$root/xdg" "$root/bin"
chmod 700 "$root/xdg"

cat > "$root/bin/gw-eval" <<'S'
#!/usr/bin/env bash
# org.gnome.Shell.Eval answers (success, JSON); print a string result as it is, anything else
# as JSON, and fail when the shell did.
out=$(gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell --method org.gnome.Shell.Eval "$1") || exit 1
python3 - "$out" <<'P'
import ast, json, sys
text = sys.argv[1].strip()
ok = text.startswith("(true")
result = ast.literal_eval("(" + ("True" if ok else "False") + text[text.index(","):])[1]
value = json.loads(result) if ok and result else result
print(value if isinstance(value, str) else json.dumps(value))
sys.exit(0 if ok else 1)
P
S
# The input helpers live in the shell (global.gw, installed below), so that a program can send a
# whole step's input in one Eval; these commands are thin wrappers for scripts and people.
cat > "$root/bin/gw-move" <<'S'
#!/usr/bin/env bash
gw-eval "global.gw.move($1, $2)" >/dev/null
S
cat > "$root/bin/gw-click" <<'S'
#!/usr/bin/env bash
gw-eval "global.gw.click($1, $2, ${3:-1}, ${4:-1})" >/dev/null
S
cat > "$root/bin/gw-key" <<'S'
#!/usr/bin/env bash
gw-eval "global.gw.keys([$(IFS=,; echo "$*")])" >/dev/null
S
cat > "$root/bin/gw-type" <<'S'
#!/usr/bin/env bash
gw-eval "global.gw.type($(python3 -c 'import json, sys; print(json.dumps(sys.argv[1]))' "$1"))" >/dev/null
S
cat > "$root/bin/gw-shot" <<'S'
#!/usr/bin/env bash
gdbus call --session --dest org.gnome.Shell.Screenshot --object-path /org/gnome/Shell/Screenshot \
  --method org.gnome.Shell.Screenshot.Screenshot false false "$(realpath -m "$1")" >/dev/null
S
cat > "$root/bin/gw-windows" <<'S'
#!/usr/bin/env bash
gw-eval 'global.gw.windows().map(w => [JSON.stringify(w.title), w.x, w.y, w.width, w.height, "focus=" + (w.focus ? 1 : 0), "override-redirect=" + (w.overrideRedirect ? 1 : 0)].join(" ")).join(String.fromCharCode(10))'
S
# Virtual devices of the shell's own seat; event times only ever grow, so that a click sent in the
# same Eval as a move, or right after another Eval's, is not taken as older than it.
cat > "$root/gw.js" <<'S'
(() => {
  const C = imports.gi.Clutter, G = imports.gi.GLib;
  const seat = C.get_default_backend().get_default_seat();
  const pointer = seat.create_virtual_device(C.InputDeviceType.POINTER_DEVICE);
  const keyboard = seat.create_virtual_device(C.InputDeviceType.KEYBOARD_DEVICE);
  let last = 0;
  const at = (after) => (last = Math.max(last + after, G.get_monotonic_time()));
  global.gw = {
    move(x, y) { pointer.notify_absolute_motion(at(1000), x, y); return 'ok'; },
    // COUNT clicks 60 ms apart (2: a double click).
    click(x, y, button = 1, count = 1) {
      this.move(x, y);
      for (let i = 0; i < count; i++) {
        pointer.notify_button(at(1000), button, C.ButtonState.PRESSED);
        pointer.notify_button(at(60000), button, C.ButtonState.RELEASED);
      }
      return 'ok';
    },
    keys(keyvals) {
      for (const keyval of keyvals) {
        keyboard.notify_keyval(at(20000), keyval, C.KeyState.PRESSED);
        keyboard.notify_keyval(at(20000), keyval, C.KeyState.RELEASED);
      }
      return 'ok';
    },
    type(text) { return this.keys([...text].map(c => c.charCodeAt(0))); },
    windows() {
      return global.get_window_actors().map(a => {
        const w = a.meta_window, r = w.get_frame_rect(), texture = a.get_texture();
        // Drawn: the window's content reached the shell, which only then passes it input.
        return {title: w.get_title(), x: r.x, y: r.y, width: r.width, height: r.height, focus: w.has_focus(),
                overrideRedirect: w.is_override_redirect(), drawn: !!texture && texture.get_preferred_size()[1] > 0};
      });
    },
  };
  return 'ok';
})()
S
chmod +x "$root"/bin/*

cat > "$root/inner.sh" <<'INNER'
#!/usr/bin/env bash
# Runs on the private session bus; $root and $size come from the environment. fds 3 and 4 are
# the caller's stdout and stderr, which only CMD and our messages get, so that nothing left
# behind by the session can hold the caller's pipes open.
set -u
log() { echo "gnome-wayland-session: $*" >&4; }
poll() { local n=$1; shift; for _ in $(seq "$n"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done; return 1; }
has_name() { gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus -m org.freedesktop.DBus.NameHasOwner "$1" | grep -q true; }
pids=()
# Whatever the session started on its own (the accessibility bus, say) carries its runtime folder.
session_pids() {
  for e in /proc/[0-9]*/environ; do
    grep -qsz "^XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR\$" "$e" && { p=${e#/proc/}; p=${p%/environ}; case "$p" in $$|$PPID|$BASHPID) ;; *) echo "$p" ;; esac; }
  done
}
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in $(session_pids); do pids+=("$p"); kill "$p" 2>/dev/null; done
  for _ in $(seq 30); do
    alive=
    for p in "${pids[@]}"; do kill -0 "$p" 2>/dev/null && alive=1; done
    [ -z "$alive" ] && return
    sleep 0.1
  done
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done
}
trap cleanup EXIT

# GNOME Shell wants a system bus (logind); a private one is enough for it to start.
dbus-daemon --session --address="unix:path=$root/system-bus" --nofork --nopidfile >"$root/system-bus.log" 2>&1 3>&- 4>&- & pids+=($!)
poll 50 test -S "$root/system-bus" || { log "no system bus"; exit 2; }
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$root/system-bus" XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
gsettings set org.gnome.shell enabled-extensions "['ubuntu-appindicators@ubuntu.com']"
gsettings set org.gnome.shell disable-user-extensions false
gsettings set org.gnome.shell welcome-dialog-last-shown-version '99'
# No notification banners (the shell announces that screen locking is unavailable) over the panel.
gsettings set org.gnome.desktop.notifications show-banners false
gnome-shell --wayland --headless --virtual-monitor "$size" --unsafe-mode >"$root/gnome-shell.log" 2>&1 3>&- 4>&- & gs=$!; pids+=($gs)
ready() { has_name org.kde.StatusNotifierWatcher && test -S "$XDG_RUNTIME_DIR/wayland-0"; }
# Stop waiting as soon as the shell has given up.
ready_or_gone() { ready || ! kill -0 "$gs" 2>/dev/null; }
if ! poll 600 ready_or_gone || ! ready; then
  if ! kill -0 "$gs" 2>/dev/null; then
    log "GNOME Shell cannot run here (it exited at start); skipping. Its log:"
  else
    log "GNOME Shell started no StatusNotifierWatcher within 60 s; skipping. Its log:"
  fi
  tail -n 20 "$root/gnome-shell.log" >&4
  exit 77
fi
# Mutter picks the first free X display number for Xwayland and says which.
x_display() { sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$root/gnome-shell.log" | head -n 1; }
has_x_display() { test -n "$(x_display)"; }
poll 100 has_x_display || { log "Mutter announced no Xwayland display; its log:"; tail -n 20 "$root/gnome-shell.log" >&4; exit 2; }
export PATH="$root/bin:$PATH" WAYLAND_DISPLAY=wayland-0 DISPLAY="$(x_display)"
# The shell opens the overview once start-up ends; leave it so the desktop takes clicks.
on_desktop() { gw-eval 'Main.layoutManager._startingUp ? "starting" : (Main.overview.visible ? (Main.overview.hide(), "hiding") : "desktop")' | grep -qx desktop; }
poll 100 on_desktop || log "the overview did not close"
gw-eval "$(cat "$root/gw.js")" >/dev/null || { log "cannot install the input helpers in the shell"; exit 2; }
if [ "$scale" != 1 ]; then
  # The system interpreter, which has the GObject bindings.
  /usr/bin/python3 - "$scale" >&4 <<'P' || { log "cannot set the monitor's scale to $scale"; exit 2; }
import sys
from gi.repository import Gio, GLib
scale = float(sys.argv[1])
bus = Gio.bus_get_sync(Gio.BusType.SESSION)
def call(method, args=None):
    return bus.call_sync("org.gnome.Mutter.DisplayConfig", "/org/gnome/Mutter/DisplayConfig",
                         "org.gnome.Mutter.DisplayConfig", method, args, None, 0, -1, None).unpack()
serial, monitors, _, _ = call("GetCurrentState")
(connector, _, _, _), modes, _ = monitors[0]
mode = next(m for m in modes if m[6].get("is-current"))
if scale not in mode[5]:
    sys.exit("scale %g is not supported at %dx%d (supported: %s)" % (scale, mode[1], mode[2], mode[5]))
call("ApplyMonitorsConfig", GLib.Variant("(uua(iiduba(ssa{sv}))a{sv})",
                                         (serial, 1, [(0, 0, scale, 0, True, [(connector, mode[0], {})])], {})))
P
  scaled() { gw-eval 'imports.gi.St.ThemeContext.get_for_stage(global.stage).scale_factor' | grep -qx "$scale"; }
  poll 100 scaled || log "the shell did not take scale $scale"
fi
# Mutter writes the Xwayland auth file at start and runs Xwayland when the first X client comes.
xauth_file() { ls "$XDG_RUNTIME_DIR"/.mutter-Xwaylandauth.* 2>/dev/null | head -n 1; }
has_xauth() { test -n "$(xauth_file)"; }
poll 100 has_xauth
[ -n "$(xauth_file)" ] && export XAUTHORITY="$(xauth_file)"
[ "$scale" = 1 ] || echo "Xft.dpi: $((96 * scale))" | xrdb -nocpp -merge
export GW_SHELL_LOG="$root/gnome-shell.log"

"$@" >&3 2>&4 3>&- 4>&-
INNER
chmod +x "$root/inner.sh"
export root size scale
env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY -u WAYLAND_DISPLAY HOME="$root/home" XDG_CONFIG_HOME="$root/home/.config" \
  XDG_CACHE_HOME="$root/home/.cache" XDG_RUNTIME_DIR="$root/xdg" \
  dbus-run-session -- "$root/inner.sh" "$@" 3>&1 4>&2 >"$root/session.log" 2>&1
