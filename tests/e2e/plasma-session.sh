#!/usr/bin/env bash
# plasma-session.sh [--size WxH] [--top] [--scale N] [--hide-item ID] [--panel-visibility N]
#                   [--applet DIR] CMD...
# Runs CMD inside a throwaway KDE Plasma 5.27 desktop: a private session bus, an Xvfb display
# (software OpenGL), kwin_x11, kded5 (which hosts org.kde.StatusNotifierWatcher, as in a real
# Plasma session) and plasmashell with a fresh HOME whose only panel holds a spacer, the system
# tray and the clock, at the bottom edge as Plasma's default layout puts it (--top for the top).
#   --scale N   Plasma's global scale as its display settings set it on X11: Xft.dpi = 96 x N,
#               kdeglobals' ScreenScaleFactors, QT_SCREEN_SCALE_FACTORS for kwin and plasmashell
#               (not for CMD) and a panel N times as thick; use with a larger --size
#   --hide-item ID   the tray lists the item whose Id is ID under "hidden" (its expander popup)
#   --panel-visibility N   0 always visible (reserves its strut, the default), 1 auto hide,
#               2 windows can cover, 3 windows go below: 1-3 reserve no strut
#   --applet DIR   installs the Plasma applet package DIR with kpackagetool5 into the fresh HOME
#               and puts it on the panel before the tray
# CMD starts once the watcher is owned, the tray has registered as a StatusNotifierHost and the
# panel shows; then everything started is stopped by PID. Inside CMD: DISPLAY,
# DBUS_SESSION_BUS_ADDRESS, HOME and XDG_DATA_HOME (fresh) and PLASMA_SESSION_DIR are set.
# Exits 77 (a skip for CTest), with the reason on stderr, when Plasma cannot start here; exits 2
# when a package is missing (scripts/install-deps.sh installs them).
set -u
size=1280x800
location=4 # Plasma: 3 top edge, 4 bottom edge
scale=
hidden=
visibility=0
applet=
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size=$2; shift 2 ;;
    --top) location=3; shift ;;
    --scale) scale=$2; shift 2 ;;
    --hide-item) hidden=$2; shift 2 ;;
    --panel-visibility) visibility=$2; shift 2 ;;
    --applet) applet=$2; shift 2 ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--size WxH] [--top] [--scale N] [--hide-item ID] [--panel-visibility N] [--applet DIR] CMD..." >&2; exit 2; }
for bin in Xvfb plasmashell kded5 kwin_x11 kpackagetool5 dbus-run-session dbus-send xprop xdotool; do
  command -v "$bin" >/dev/null || { echo "plasma-session: $bin is missing; run scripts/install-deps.sh" >&2; exit 2; }
done

root=$(mktemp -d /tmp/zentrow-plasma.XXXXXX)
# Services the session started may still be writing their settings for a moment.
trap 'rm -rf "$root" 2>/dev/null || { sleep 1; rm -rf "$root"; }' EXIT
home=$root/home
mkdir -p "$home/.config" "$home/.cache" "$home/.local/share" "$root/run"
chmod 700 "$root/run"

if [ -n "$applet" ]; then
  id=$(sed -n 's/^ *"Id": *"\([^"]*\)".*/\1/p' "$applet/metadata.json" | head -n1)
  XDG_DATA_HOME=$home/.local/share kpackagetool5 --type Plasma/Applet --install "$applet" >"$root/kpackagetool.log" 2>&1 \
    || { echo "plasma-session: kpackagetool5 refused $applet:" >&2; cat "$root/kpackagetool.log" >&2; exit 2; }
  order="2;6;3;4"
else
  id=
  order="2;3;4"
fi

# The panel: a spacer, the applet when asked for, the system tray (with its inner containment)
# and the clock.
cat > "$home/.config/plasma-org.kde.plasma.desktop-appletsrc" <<CONF
[Containments][1]
activityId=
formfactor=2
immutability=1
lastScreen=0
location=$location
plugin=org.kde.panel
wallpaperplugin=org.kde.image

[Containments][1][Applets][2]
immutability=1
plugin=org.kde.plasma.panelspacer

[Containments][1][Applets][3]
immutability=1
plugin=org.kde.plasma.systemtray

[Containments][1][Applets][3][Configuration]
PreloadWeight=100
SystrayContainmentId=5

[Containments][1][Applets][4]
immutability=1
plugin=org.kde.plasma.digitalclock
$([ -n "$id" ] && printf '\n[Containments][1][Applets][6]\nimmutability=1\nplugin=%s\n' "$id")

[Containments][1][General]
AppletOrder=$order

[Containments][5]
activityId=
formfactor=2
immutability=1
lastScreen=0
location=$location
plugin=org.kde.plasma.private.systemtray
wallpaperplugin=org.kde.image

[Containments][5][General]
extraItems=org.kde.plasma.notifications
knownItems=org.kde.plasma.battery,org.kde.plasma.clipboard,org.kde.plasma.devicenotifier,org.kde.plasma.keyboardlayout,org.kde.plasma.manage-inputmethod,org.kde.plasma.mediacontroller,org.kde.plasma.notifications,touchpad
hiddenItems=$hidden
CONF
cat > "$home/.config/plasmashellrc" <<CONF
[PlasmaViews][Panel 1]
panelVisibility=$visibility

[PlasmaViews][Panel 1][Defaults]
thickness=$(awk -v s="${scale:-1}" 'BEGIN {print int(44 * s)}')
CONF
# No splash, no welcome, no animations.
printf '[KSplash]\nEngine=none\nTheme=None\n' > "$home/.config/ksplashrc"
printf '[Compositing]\nEnabled=true\nAnimationSpeed=0\n[Plugins]\nslideEnabled=false\nfadeEnabled=false\nscaleEnabled=false\n' \
  > "$home/.config/kwinrc"
printf '[KDE]\nAnimationDurationFactor=0\n' > "$home/.config/kdeglobals"
if [ -n "$scale" ]; then
  printf '[KScreen]\nScaleFactor=%s\nScreenScaleFactors=screen=%s;\n' "$scale" "$scale" >> "$home/.config/kdeglobals"
  printf '[General]\nforceFontDPI=%s\n' "$(awk -v s="$scale" 'BEGIN {print int(96 * s)}')" > "$home/.config/kcmfonts"
fi

cat > "$root/inner.sh" <<'INNER'
#!/usr/bin/env bash
# Runs on the private session bus. Its own output and the session's services go to session.log;
# fds 3 and 4 are the caller's stdout and stderr, which only CMD and our messages get, so that
# nothing left behind by the session can hold the caller's pipes open.
set -u
root=$PLASMA_SESSION_DIR
log() { echo "plasma-session: $*" >&4; }
# Waits up to $1 tenths of a second (of the clock, however long each try takes) for the command
# that follows to succeed.
poll() {
  local end=$(($(date +%s%N) / 100000000 + $1)); shift
  until "$@" >/dev/null 2>&1; do
    [ $(($(date +%s%N) / 100000000)) -ge "$end" ] && return 1
    sleep 0.1
  done
}
has_owner() { dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'; }
host_registered() {
  dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
    org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher string:IsStatusNotifierHostRegistered 2>/dev/null | grep -q 'boolean true'
}
panel_shown() {
  # With a strut the work area is smaller than the screen; otherwise a plasmashell dock is mapped.
  if [ "$SESSION_VISIBILITY" != 0 ]; then
    xdotool search --onlyvisible --class plasmashell >/dev/null 2>&1
    return
  fi
  local wa; wa=$(xprop -root -notype _NET_WORKAREA 2>/dev/null | sed -n 's/.*= *//p' | cut -d, -f1-4 | tr -d ' ')
  [ -n "$wa" ] && [ "${wa##*,}" -lt "$SCREEN_H" ]
}
ready() { has_owner org.kde.StatusNotifierWatcher && host_registered && panel_shown; }
pids=()

exec 5>"$root/display"
Xvfb -displayfd 5 -screen 0 "${SCREEN_SIZE}x24" -nolisten tcp -dpi 96 +extension GLX >"$root/xvfb.log" 2>&1 3>&- 4>&- & pids+=($!)
exec 5>&-
poll 100 test -s "$root/display" || { log "Xvfb did not start"; exit 2; }
export DISPLAY=:$(head -n1 "$root/display")
poll 100 xprop -root || { log "no X display"; exit 2; }
# Services the bus starts on demand (kactivitymanagerd, kglobalaccel) need the display too.
dbus-update-activation-environment DISPLAY XDG_CURRENT_DESKTOP XDG_SESSION_TYPE KDE_FULL_SESSION
plasma_env=()
if [ -n "$SESSION_SCALE" ]; then
  echo "Xft.dpi: $(awk -v s="$SESSION_SCALE" 'BEGIN {print int(96 * s)}')" | xrdb -merge
  plasma_env=(QT_SCREEN_SCALE_FACTORS="screen=$SESSION_SCALE;")
fi
env "${plasma_env[@]}" kwin_x11 >"$root/kwin.log" 2>&1 3>&- 4>&- & pids+=($!)
# plasmashell places its panel once a window manager runs; on a busy machine kwin takes a while.
poll 300 sh -c "xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'" || log "kwin is slow to start; going on"
kded5 >"$root/kded5.log" 2>&1 3>&- 4>&- & pids+=($!)
env "${plasma_env[@]}" plasmashell --no-respawn >"$root/plasmashell.log" 2>&1 3>&- 4>&- & shell=$!; pids+=($shell)
if ! poll 900 ready; then
  if ! kill -0 "$shell" 2>/dev/null; then
    log "plasmashell cannot run here (it exited at start); skipping. Its log:"
  else
    log "Plasma not ready within 90 s; skipping. Its log:"
  fi
  tail -n 20 "$root/plasmashell.log" >&4
  rc=77
else
  sleep 1 # the panel's first frame
  "$@" >&3 2>&4 3>&- 4>&-; rc=$?
fi

# Tear down by PID: every process on this private bus, then what was started here (the X server
# last), then anything else of this session's, found by PLASMA_SESSION_DIR in its environment
# (this script's ancestors and the bus daemon excepted: dbus-run-session stops it).
mypid=$$
bus_pids=$(dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.ListNames 2>/dev/null \
  | grep -o '"[^"]*"' | tr -d '"' | grep '^:' | while read -r n; do
      dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetConnectionUnixProcessID "string:$n" 2>/dev/null | awk '/uint32/ {print $2}'
    done | sort -un)
for p in $bus_pids; do [ "$p" != "$mypid" ] && kill "$p" 2>/dev/null; done
for ((i=${#pids[@]}-1; i>=1; i--)); do kill "${pids[$i]}" 2>/dev/null; done
anc=" $mypid "; p=$mypid
while p=$(awk '/^PPid:/ {print $2}' /proc/$p/status 2>/dev/null) && [ -n "$p" ] && [ "$p" -gt 1 ]; do anc="$anc$p "; done
for st in /proc/[0-9]*/status; do
  p=${st#/proc/}; p=${p%/status}
  case "$anc" in *" $p "*) continue ;; esac
  [ "$p" = "${pids[0]}" ] && continue
  pp=$(awk '/^PPid:/ {print $2}' "$st" 2>/dev/null)
  case "$anc" in *" $pp "*) [ "$(cat /proc/$p/comm 2>/dev/null)" = dbus-daemon ] && continue ;; esac
  if tr '\0' '\n' 2>/dev/null </proc/$p/environ | grep -qxF "PLASMA_SESSION_DIR=$root"; then
    kill "$p" 2>/dev/null
  fi
done
for _ in $(seq 30); do
  alive=
  for p in "${pids[@]:1}"; do kill -0 "$p" 2>/dev/null && alive=1; done
  [ -z "$alive" ] && break
  sleep 0.1
done
kill "${pids[0]}" 2>/dev/null
exit $rc
INNER
chmod +x "$root/inner.sh"

# Only the session's processes get these.
env -u DBUS_SESSION_BUS_ADDRESS -u SESSION_MANAGER -u QT_SCREEN_SCALE_FACTORS \
  HOME=$home XDG_CONFIG_HOME=$home/.config XDG_CACHE_HOME=$home/.cache XDG_DATA_HOME=$home/.local/share \
  XDG_RUNTIME_DIR=$root/run PLASMA_SESSION_DIR=$root \
  XDG_CURRENT_DESKTOP=KDE XDG_SESSION_DESKTOP=KDE KDE_FULL_SESSION=true KDE_SESSION_VERSION=5 \
  XDG_SESSION_TYPE=x11 DESKTOP_SESSION=plasma \
  SCREEN_SIZE=$size SCREEN_H=${size#*x} SESSION_SCALE=$scale SESSION_VISIBILITY=$visibility \
  dbus-run-session -- "$root/inner.sh" "$@" 3>&1 4>&2 >"$root/session.log" 2>&1
