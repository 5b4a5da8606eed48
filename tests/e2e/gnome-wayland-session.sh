#!/usr/bin/env bash
# gnome-wayland-session.sh [--size WxH] CMD...
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
# The overview is closed before CMD runs. Exits 77 (a skip for CTest), with the reason on
# stderr, when the shell cannot start here; exits 2 when a package is missing
# (scripts/install-deps.sh installs them).
set -u
size=1280x800
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size=$2; shift 2 ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--size WxH] CMD..." >&2; exit 2; }
for bin in gnome-shell Xwayland gdbus gsettings dbus-run-session dbus-daemon python3; do
  command -v "$bin" >/dev/null || { echo "gnome-wayland-session: $bin is missing; run scripts/install-deps.sh" >&2; exit 2; }
done
[ -d /usr/share/gnome-shell/extensions/ubuntu-appindicators@ubuntu.com ] \
  || { echo "gnome-wayland-session: gnome-shell-extension-appindicator is missing" >&2; exit 2; }

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
pointer='const C=imports.gi.Clutter, G=imports.gi.GLib; if(!global._zp) global._zp=C.get_default_backend().get_default_seat().create_virtual_device(C.InputDeviceType.POINTER_DEVICE); const p=global._zp; let t=G.get_monotonic_time();'
cat > "$root/bin/gw-move" <<S
#!/usr/bin/env bash
gw-eval "$pointer p.notify_absolute_motion(t,\$1,\$2); 'ok'" >/dev/null
S
cat > "$root/bin/gw-click" <<S
#!/usr/bin/env bash
js="$pointer p.notify_absolute_motion(t,\$1,\$2);"
for _ in \$(seq \${4:-1}); do js="\$js p.notify_button(t+=1000,\${3:-1},C.ButtonState.PRESSED); p.notify_button(t+=60000,\${3:-1},C.ButtonState.RELEASED);"; done
gw-eval "\$js 'ok'" >/dev/null
S
cat > "$root/bin/gw-key" <<'S'
#!/usr/bin/env bash
js="const C=imports.gi.Clutter, G=imports.gi.GLib; if(!global._zk) global._zk=C.get_default_backend().get_default_seat().create_virtual_device(C.InputDeviceType.KEYBOARD_DEVICE); const k=global._zk; let t=G.get_monotonic_time();"
for kv in "$@"; do js="$js k.notify_keyval(t,$kv,C.KeyState.PRESSED); t+=20000; k.notify_keyval(t,$kv,C.KeyState.RELEASED); t+=20000;"; done
gw-eval "$js 'ok'" >/dev/null
S
cat > "$root/bin/gw-type" <<'S'
#!/usr/bin/env bash
kvs=(); s=$1
for ((i=0; i<${#s}; i++)); do kvs+=("$(printf '0x%x' "'${s:$i:1}")"); done
gw-key "${kvs[@]}"
S
cat > "$root/bin/gw-shot" <<'S'
#!/usr/bin/env bash
gdbus call --session --dest org.gnome.Shell.Screenshot --object-path /org/gnome/Shell/Screenshot \
  --method org.gnome.Shell.Screenshot.Screenshot false false "$(realpath -m "$1")" >/dev/null
S
cat > "$root/bin/gw-windows" <<'S'
#!/usr/bin/env bash
gw-eval 'global.get_window_actors().map(a=>{const w=a.meta_window; const r=w.get_frame_rect(); return [JSON.stringify(w.get_title()), r.x, r.y, r.width, r.height, "focus=" + (w.has_focus()?1:0), "override-redirect=" + (w.is_override_redirect()?1:0)].join(" ")}).join(String.fromCharCode(10))'
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
if ! poll 600 ready; then
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
# Mutter writes the Xwayland auth file at start and runs Xwayland when the first X client comes.
xauth_file() { ls "$XDG_RUNTIME_DIR"/.mutter-Xwaylandauth.* 2>/dev/null | head -n 1; }
has_xauth() { test -n "$(xauth_file)"; }
poll 100 has_xauth
[ -n "$(xauth_file)" ] && export XAUTHORITY="$(xauth_file)"

"$@" >&3 2>&4 3>&- 4>&-
INNER
chmod +x "$root/inner.sh"
export root size
env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY -u WAYLAND_DISPLAY HOME="$root/home" XDG_CONFIG_HOME="$root/home/.config" \
  XDG_CACHE_HOME="$root/home/.cache" XDG_RUNTIME_DIR="$root/xdg" \
  dbus-run-session -- "$root/inner.sh" "$@" 3>&1 4>&2 >"$root/session.log" 2>&1
