#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR and checks what a desktop gets from it: the
# validators of the freedesktop files, the man pages, the MIME types and the default application
# resolved the way a desktop resolves them, the icons, and the programs finding their data (the
# German translation) from where they were installed.
# Usage: tst_install.sh BUILD_DIR
set -uo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
share=$root/usr/share
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# check DESCRIPTION COMMAND...: runs the command, which must succeed.
check() {
    local what=$1
    shift
    local output
    if ! output=$("$@" 2>&1); then
        fail "$what"
        echo "$output"
    fi
}
# expect DESCRIPTION EXPECTED COMMAND...: the command's output must be EXPECTED.
expect() {
    local what=$1 expected=$2
    shift 2
    local output
    output=$("$@" 2>&1)
    [ "$output" = "$expected" ] || fail "$what: expected '$expected', got '$output'"
}

if ! DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    echo "FAIL: cmake --install"
    exit 1
fi

id=org.nembrow.Varnisk
check "desktop-file-validate" desktop-file-validate "$share/applications/$id.desktop"
check "appstreamcli validate" appstreamcli validate --no-net "$share/metainfo/$id.metainfo.xml"
check "xmllint on the MIME package" xmllint --noout "$share/mime/packages/$id.xml"
for page in varnisk varnisk-cli; do
    check "mandoc -Tlint $page.1" mandoc -Tlint "$share/man/man1/$page.1.gz"
done
check "bash completion syntax" bash -n "$share/bash-completion/completions/varnisk-cli"

# Everything the desktop entry names is there.
expect "Exec" "varnisk %F" sed -n 's/^Exec=//p' "$share/applications/$id.desktop"
[ -x "$root/usr/bin/varnisk" ] && [ -x "$root/usr/bin/varnisk-cli" ] || fail "programs in usr/bin"
for icon in apps/$id mimetypes/application-x-varnisk-{secrets,data,image}; do
    for size in 16 22 24 32 48 64 128 256; do
        [ -f "$share/icons/hicolor/${size}x$size/$icon.png" ] || fail "icon $size $icon"
    done
    [ -f "$share/icons/hicolor/scalable/$icon.svg" ] || fail "icon scalable $icon"
done
[ -f "$share/doc/varnisk/varnisk.html" ] || fail "the manual the About window links to"
[ -f "$share/doc/varnisk/copyright" ] && [ -f "$share/doc/varnisk/COPYING" ] || fail "licence"

# MIME types and the default application, as a desktop without its own database sees them.
check "update-mime-database" update-mime-database "$share/mime"
check "update-desktop-database" update-desktop-database "$share/applications"
mkdir -p "$work/config" "$work/data" "$work/files"
export XDG_DATA_HOME=$work/data XDG_DATA_DIRS=$share:/usr/share XDG_CONFIG_HOME=$work/config
export XDG_CONFIG_DIRS=$work/config
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
for pair in stxt:secrets sdat:data simg:image; do
    suffix=${pair%%:*}
    type=application/x-varnisk-${pair#*:}
    head -c 66 /dev/urandom >"$work/files/x.$suffix"
    expect "type of x.$suffix" "$type" xdg-mime query filetype "$work/files/x.$suffix"
    expect "application for $type" "$id.desktop" xdg-mime query default "$type"
done

# The installed programs find their translation relative to where they were installed.
expect "German message of the installed varnisk-cli" "Die Datei existiert nicht!" \
    env LANGUAGE= LC_ALL= LC_MESSAGES= LANG=de_DE.UTF-8 "$root/usr/bin/varnisk-cli" show "$work/none.stxt"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "All installation checks passed."
