#!/bin/bash
# Runs a command as a client of a headless sway of its own: sway-session.sh [--xwayland] command...
# Sway refuses to run as root, so under root the compositor runs as nobody. The command gets
# WAYLAND_DISPLAY and SWAYSOCK, with --xwayland also DISPLAY (XWayland, which lets root in), and
# a runtime folder of its own; the compositor ends with it.
xwayland=disable
[ "$1" = --xwayland ] && { xwayland=enable; shift; }
top=$(mktemp -d -t varnisk-sway.XXXXXX) || exit 1
trap 'kill "$sway" 2>/dev/null; wait; rm -rf "$top"' EXIT
mkdir -m 700 "$top/runtime" "$top/home" "$top/client"
as=(setpriv --pdeathsig=KILL)
if [ "$(id -u)" = 0 ]; then
    chmod 711 "$top" && chown nobody: "$top/runtime" "$top/home" || exit 1
    as+=(--reuid=nobody --regid="$(id -g nobody)" --clear-groups)
fi
# Type Selection under XWayland activates X11 windows on request.
printf '%s\n' 'output HEADLESS-1 resolution 1280x800' 'focus_on_window_activation focus' \
    "xwayland $xwayland" "exec printenv DISPLAY > $top/runtime/display" >"$top/sway.conf"
(cd "$top/home" && exec env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$top/home" LANG=C.UTF-8 \
    XDG_RUNTIME_DIR="$top/runtime" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 \
    WLR_RENDERER=pixman "${as[@]}" sway -c "$top/sway.conf" >"$top/log" 2>&1) &
sway=$!
ready() {
    sockets=("$top"/runtime/wayland-[0-9] "$top"/runtime/sway-ipc.*.sock)
    [ -S "${sockets[0]}" ] && [ -S "${sockets[1]}" ] &&
        { [ $xwayland = disable ] || [ -s "$top/runtime/display" ]; }
}
for _ in $(seq 100); do
    ready && break
    kill -0 "$sway" 2>/dev/null || break
    sleep 0.1
done
ready || { echo "sway did not start: $(tail -5 "$top/log")" >&2; exit 1; }
export WAYLAND_DISPLAY=${sockets[0]} SWAYSOCK=${sockets[1]} XDG_RUNTIME_DIR=$top/client
if [ $xwayland = enable ]; then
    export DISPLAY=$(cat "$top/runtime/display") QT_QPA_PLATFORM=xcb QT_XCB_GL_INTEGRATION=none
    "${as[@]}" xhost +si:localuser:"$(id -un)" >/dev/null || exit 1
else
    # Shared memory buffers suffice: Mesa only adds start-up time and allocations of its own.
    export QT_QPA_PLATFORM=wayland QT_WAYLAND_CLIENT_BUFFER_INTEGRATION=none
fi
"$@"
