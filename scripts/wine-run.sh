#!/usr/bin/env bash
# Runs a Windows program of the build under Wine (wine64) with the DLLs it
# needs on its path: the target's Qt (QUILLET_QT_PREFIX, or the newest one
# prepared in the cache), OpenSSL beside it, and the mingw runtime. A private Wine prefix
# (QUILLET_WINEPREFIX, default ~/.cache/quillet/wine) is created on first use
# (about 10 s). Wine's own diagnostics stay off unless WINEDEBUG is set.
set -euo pipefail

cache="${QUILLET_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quillet}"
qt="${QUILLET_QT_PREFIX:-}"
if [ -z "$qt" ]; then
    qt=$(ls -d "$cache"/mingw-qt-* 2>/dev/null | sort -V | tail -n1 || true)
fi
export WINEPREFIX="${QUILLET_WINEPREFIX:-$cache/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

windows_path() { echo "Z:${1//\//\\}"; }
paths=()
if [ -n "$qt" ]; then
    paths+=("$(windows_path "$qt/bin")")
    # OpenSSL for Qt's TLS, prepared beside it.
    for d in "$(dirname "$qt")"/mingw-openssl-*/bin; do
        [ -d "$d" ] && paths+=("$(windows_path "$d")")
    done
fi
for d in /usr/lib/gcc/x86_64-w64-mingw32/12-posix /usr/x86_64-w64-mingw32/lib; do
    paths+=("$(windows_path "$d")")
done
WINEPATH=$(IFS=';'; echo "${paths[*]}")
export WINEPATH
[ -n "$qt" ] && export QT_PLUGIN_PATH="$(windows_path "$qt/plugins")"

if [ ! -d "$WINEPREFIX" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
fi
exec /usr/lib/wine/wine64 "$@"
