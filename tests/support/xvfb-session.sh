#!/bin/bash
# Runs a command as a client of an Xvfb of its own. The server picks a free display number
# (-displayfd), so tests running side by side never collide; it ends with the command.
dir=$(mktemp -d -t varnisk-xvfb.XXXXXX) || exit 1
trap 'kill "$server" 2>/dev/null; wait; rm -rf "$dir"' EXIT
mkfifo "$dir/display"
setpriv --pdeathsig=TERM Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/display" 2>"$dir/log" &
server=$!
read -r number <"$dir/display" || { echo "Xvfb did not start: $(tail -3 "$dir/log")" >&2; exit 1; }
# No OpenGL: Mesa's GLX on Xvfb only adds start-up time and allocations of its own.
export DISPLAY=":$number" QT_XCB_GL_INTEGRATION=none
"$@"
