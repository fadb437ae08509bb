#!/bin/bash
# Runs a command as a client of a headless mutter of its own, with a private session bus and the
# real xdg-desktop-portal, whose RemoteDesktop backend is fake-remotedesktop-portal.py: it allows
# without a dialog and drives mutter's own RemoteDesktop interface. The portal refuses callers it
# cannot inspect; root could inspect every one, so under root all of it runs as nobody. The
# command gets WAYLAND_DISPLAY, DBUS_SESSION_BUS_ADDRESS, XDG_RUNTIME_DIR, HOME,
# VARNISK_PORTAL_LOG (a line per call the backend saw) and VARNISK_PORTAL_ANSWER (a file: the
# number in it is Start's answer, 1 cancelled, 2 refused); everything ends with it.
here=$(cd "$(dirname "$0")" && pwd) || exit 1
top=$(mktemp -d -t varnisk-mutter.XXXXXX) || exit 1
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait; rm -rf "$top"' EXIT
mkdir -m 700 "$top/runtime" "$top/home" "$top/client" && mkdir "$top/portals" || exit 1
as=(setpriv --pdeathsig=KILL)
if [ "$(id -u)" = 0 ]; then
    chmod 711 "$top" && chown nobody: "$top/runtime" "$top/home" "$top/client" || exit 1
    as+=(--reuid=nobody --regid="$(id -g nobody)" --clear-groups)
fi
bus=unix:path=$top/runtime/bus
# Without eavesdropping allowed mutter waits 25 seconds at start-up.
printf '%s\n' "<busconfig><type>session</type><listen>$bus</listen><auth>EXTERNAL</auth>" \
    '<policy context="default"><allow user="*"/><allow own="*"/><allow send_destination="*"/>' \
    '<allow eavesdrop="true"/></policy></busconfig>' >"$top/bus.conf"
printf '%s\n' '[portal]' 'DBusName=org.freedesktop.impl.portal.desktop.varnisktest' \
    'Interfaces=org.freedesktop.impl.portal.RemoteDesktop;' 'UseIn=varnisk-test' \
    >"$top/portals/varnisktest.portal"
start() { # start LOG command...: a daemon in a clean environment, as the daemon user
    local log=$1 && shift
    (cd "$top/home" && exec env -i PATH=/usr/bin:/bin HOME="$top/home" LANG=C.UTF-8 \
        XDG_RUNTIME_DIR="$top/runtime" DBUS_SESSION_BUS_ADDRESS="$bus" GSETTINGS_BACKEND=memory \
        XDG_CURRENT_DESKTOP=varnisk-test XDG_DESKTOP_PORTAL_DIR="$top/portals" \
        "${as[@]}" "$@" >"$top/$log" 2>&1) &
    pids+=($!)
}
await() { # await NAME LOG: waits for a bus name, or says why it did not come
    "${as[@]}" gdbus wait --address "$bus" --timeout 10 "$1" && return
    echo "$1 did not appear: $(tail -5 "$top/$2")" >&2
    exit 1
}
start bus.log dbus-daemon --nofork --config-file="$top/bus.conf"
for _ in $(seq 50); do [ -S "$top/runtime/bus" ] && break; sleep 0.1; done
start mutter.log mutter --headless --wayland --no-x11 --virtual-monitor 1280x800
await org.gnome.Mutter.RemoteDesktop mutter.log
# The backend must be there before the portal starts, which looks for it once.
start backend.log /usr/bin/python3 "$here/fake-remotedesktop-portal.py" "$top/runtime/answer"
await org.freedesktop.impl.portal.desktop.varnisktest backend.log
start portal.log /usr/libexec/xdg-desktop-portal -r
await org.freedesktop.portal.Desktop portal.log
sockets=("$top"/runtime/wayland-[0-9])
[ -S "${sockets[0]}" ] || { echo "mutter has no Wayland socket: $(tail -5 "$top/mutter.log")" >&2; exit 1; }
export WAYLAND_DISPLAY=${sockets[0]} DBUS_SESSION_BUS_ADDRESS=$bus XDG_RUNTIME_DIR=$top/client \
    HOME=$top/home VARNISK_PORTAL_LOG=$top/backend.log VARNISK_PORTAL_ANSWER=$top/runtime/answer \
    XDG_SESSION_TYPE=wayland QT_QPA_PLATFORM=wayland QT_WAYLAND_CLIENT_BUFFER_INTEGRATION=none
"${as[@]}" "$@"
