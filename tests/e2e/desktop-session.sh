#!/usr/bin/env bash
# desktop-session.sh [--size WxH] [--host sntray|indicator|gnome|plasma] [--bottom] CMD...
# Runs CMD inside a throwaway desktop: a private session bus, an Xvfb display and a real panel
# that hosts StatusNotifierItems, then tears everything down and exits with CMD's status.
#   sntray     xfwm4 + xfce4-panel with xfce4-sntray-plugin: icons only, like KDE Plasma's tray
#   indicator  xfwm4 + xfce4-panel with xfce4-indicator-plugin and ayatana-indicator-application:
#              icon and label, the item's menu on a left click, like the MATE/Budgie applets
#   gnome      GNOME Shell in X11 mode with its AppIndicator extension (--bottom has no effect)
#   plasma     KDE Plasma 5.27 (kwin_x11, kded5's watcher, plasmashell's tray: icon only, Plasma's
#              own menu and tooltip; panel at the bottom): runs ./plasma-session.sh, which takes
#              the options that follow --host plasma (--top, --scale N, --hide-item ID,
#              --panel-visibility N, --applet DIR)
# CMD starts once the panel's StatusNotifierWatcher is on the bus. Exits 77 (a skip for CTest),
# with the reason on stderr, when the host itself cannot start here (GNOME Shell without a
# usable GL); exits 2 when a package is missing (scripts/install-deps.sh installs them).
set -u
size=1280x800
host=sntray
position="p=6;x=0;y=0"
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size=$2; shift 2 ;;
    --host) host=$2; shift 2 ;;
    --bottom) position="p=8;x=0;y=0"; shift ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--size WxH] [--host sntray|indicator|gnome|plasma] [--bottom] CMD..." >&2; exit 2; }

need() { command -v "$1" >/dev/null || { echo "desktop-session: $1 is missing; run scripts/install-deps.sh" >&2; exit 2; }; }
for bin in Xvfb dbus-run-session dbus-daemon gdbus xdotool; do need "$bin"; done
case "$host" in
  sntray) plugin=sntray; service= ; need xfwm4; need xfce4-panel ;;
  indicator) plugin=indicator
    service=/usr/libexec/ayatana-indicator-application/ayatana-indicator-application-service
    need xfwm4; need xfce4-panel
    [ -x "$service" ] || { echo "desktop-session: ayatana-indicator-application is missing" >&2; exit 2; } ;;
  plasma) exec "$(dirname "$0")/plasma-session.sh" --size "$size" "$@" ;;
  gnome) plugin=none; service=
    need gnome-shell; need gsettings
    [ -d /usr/share/gnome-shell/extensions/ubuntu-appindicators@ubuntu.com ] \
      || { echo "desktop-session: gnome-shell-extension-appindicator is missing" >&2; exit 2; } ;;
  *) echo "desktop-session: unknown host $host (sntray|indicator|gnome|plasma)" >&2; exit 2 ;;
esac

root=$(mktemp -d /tmp/zentrow-desktop.XXXXXX)
# Services the session started may still be writing their settings for a moment.
trap 'rm -rf "$root" 2>/dev/null || { sleep 1; rm -rf "$root"; }' EXIT
conf=$root/home/.config/xfce4/xfconf/xfce-perchannel-xml
mkdir -p "$conf"
cat > "$conf/xfce4-panel.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="$position"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="28"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
        <value type="int" value="2"/>
        <value type="int" value="3"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="separator">
      <property name="expand" type="bool" value="true"/>
      <property name="style" type="uint" value="0"/>
    </property>
    <property name="plugin-2" type="string" value="$plugin">
      <property name="show-ayatana-labels" type="bool" value="true"/>
    </property>
    <property name="plugin-3" type="string" value="clock"/>
  </property>
</channel>
XML

cat > "$root/inner.sh" <<'INNER'
#!/usr/bin/env bash
# Runs on the private session bus; $root, $host, $size and $service come from the environment.
# Its own output and the session's services go to session.log; fds 3 and 4 are the caller's
# stdout and stderr, which only CMD and our messages get, so that nothing left behind by the
# session can hold the caller's pipes open.
set -u
log() { echo "desktop-session: $*" >&4; }
# Waits up to $1 tenths of a second for the command that follows to succeed.
poll() { local n=$1; shift; for _ in $(seq "$n"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done; return 1; }
has_name() { gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus -m org.freedesktop.DBus.NameHasOwner "$1" | grep -q true; }
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for _ in $(seq 30); do
    alive=
    for p in "${pids[@]}"; do kill -0 "$p" 2>/dev/null && alive=1; done
    [ -z "$alive" ] && return
    sleep 0.1
  done
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done
}
trap cleanup EXIT

# -displayfd picks a free display without racing other sessions for one.
exec 5>"$root/display"
Xvfb -displayfd 5 -screen 0 "${size}x24" -nolisten tcp >"$root/xvfb.log" 2>&1 3>&- 4>&- & pids+=($!)
exec 5>&-
poll 100 test -s "$root/display" || { log "Xvfb did not start"; cat "$root/xvfb.log" >&4; exit 2; }
export DISPLAY=:$(head -n1 "$root/display")

if [ "$host" = gnome ]; then
  # GNOME Shell wants a system bus (logind); a private one is enough for it to start.
  dbus-daemon --session --address="unix:path=$root/system-bus" --nofork --nopidfile >"$root/system-bus.log" 2>&1 3>&- 4>&- & pids+=($!)
  poll 50 test -S "$root/system-bus" || { log "no system bus"; exit 2; }
  export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$root/system-bus" XDG_SESSION_TYPE=x11 XDG_CURRENT_DESKTOP=GNOME
  gsettings set org.gnome.shell enabled-extensions "['ubuntu-appindicators@ubuntu.com']"
  gsettings set org.gnome.shell disable-user-extensions false
  # No notification banners (the shell announces that screen locking is unavailable) over the panel.
  gsettings set org.gnome.desktop.notifications show-banners false
  gnome-shell --x11 --replace >"$root/gnome-shell.log" 2>&1 3>&- 4>&- & gs=$!; pids+=($gs)
  # The AppIndicator extension owns the watcher once the shell is up.
  if ! poll 600 has_name org.kde.StatusNotifierWatcher; then
    if ! kill -0 "$gs" 2>/dev/null; then
      log "GNOME Shell cannot run here (it exited at start); skipping. Its log:"
    else
      log "GNOME Shell started no StatusNotifierWatcher within 60 s; skipping. Its log:"
    fi
    tail -n 20 "$root/gnome-shell.log" >&4
    exit 77
  fi
  # GNOME opens its overview once its start-up animation is over; leave it so the desktop
  # takes clicks.
  overview() { gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell -m org.freedesktop.DBus.Properties.Get org.gnome.Shell OverviewActive 2>/dev/null; }
  overview_shown() { overview | grep -q true; }
  poll 150 overview_shown
  for _ in $(seq 40); do
    overview | grep -q false && break
    xdotool key Escape 2>/dev/null
    sleep 0.25
  done
else
  xfwm4 >"$root/xfwm4.log" 2>&1 3>&- 4>&- & pids+=($!)
  if [ -n "$service" ]; then "$service" >"$root/indicator.log" 2>&1 3>&- 4>&- & pids+=($!); fi
  xfce4-panel >"$root/panel.log" 2>&1 3>&- 4>&- & pids+=($!)
  poll 300 has_name org.kde.StatusNotifierWatcher || { log "the panel started no StatusNotifierWatcher"; cat "$root/panel.log" >&4; exit 2; }
  # The panel maps its window after it claims the watcher name.
  poll 100 xdotool search --onlyvisible --class xfce4-panel || { log "the panel shows no window"; exit 2; }
fi

"$@" >&3 2>&4 3>&- 4>&-; rc=$?
if [ "$host" != gnome ]; then timeout 5 xfce4-panel --quit >/dev/null 2>&1; fi
exit $rc
INNER
chmod +x "$root/inner.sh"
export root host size service
HOME=$root/home XDG_CONFIG_HOME=$root/home/.config XDG_CACHE_HOME=$root/home/.cache \
  dbus-run-session -- "$root/inner.sh" "$@" 3>&1 4>&2 >"$root/session.log" 2>&1
