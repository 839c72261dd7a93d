#!/usr/bin/env bash
# Prepares what Debian does not package for the Windows (x86_64-w64-mingw32)
# build: OpenSSL and Qt 5 qtbase, both cross-built from Debian's own source
# packages, into a per-user cache keyed by version:
#   ${QUILLET_CACHE:-~/.cache/quillet}/mingw-openssl-<version>
#   ${QUILLET_CACHE:-~/.cache/quillet}/mingw-qt-<version>
# keyed by the version of the host's own packages; .complete names the Debian
# source actually built (the mirror's nearest complete one).
# Only the first run builds (about 50 min for Qt on two busy cores); later runs
# find the finished prefixes and return at once. Prints the Qt prefix last.
#
# The sources come from the system's own Debian mirror through a deb-src line
# kept in a private apt state folder: the system's sources stay untouched.
# Needs the mingw-w64 cross compiler and dpkg-dev (scripts/setup-debian.sh).
#
# Environment: QUILLET_CACHE (cache root), QUILLET_JOBS (default 2),
# QUILLET_NICE (default 19).
set -euo pipefail

target=x86_64-w64-mingw32
cache="${QUILLET_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quillet}"
jobs="${QUILLET_JOBS:-2}"
nice_level="${QUILLET_NICE:-19}"

# The versions the host's own packages come from: the cross builds match them,
# and a warm cache is found without touching the network.
qt_debver=$(dpkg-query -W -f='${source:Version}' libqt5core5a)
ssl_debver=$(dpkg-query -W -f='${source:Version}' libssl3)
qt_ver=${qt_debver%%+*}
ssl_ver=${ssl_debver%%-*}
qt_prefix="$cache/mingw-qt-$qt_ver"
ssl_prefix="$cache/mingw-openssl-$ssl_ver"

log() { echo "prepare-windows: $*" >&2; }

if [ -f "$qt_prefix/.complete" ] && [ -f "$ssl_prefix/.complete" ]; then
    echo "$qt_prefix"
    exit 0
fi

command -v "$target-g++" >/dev/null || { log "missing $target-g++ (run scripts/setup-debian.sh)"; exit 1; }
command -v dpkg-source >/dev/null || { log "missing dpkg-source (run scripts/setup-debian.sh)"; exit 1; }

work="$cache/work"
mkdir -p "$work"

# Private apt state with deb-src lines for every deb line of the system's mirror.
fetch_source() { # package version
    local apt="$work/apt"
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial"
    {
        # One-line sources.
        for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
            [ -f "$f" ] || continue
            sed -n 's/^[[:space:]]*deb[[:space:]]\+/deb-src /p' "$f"
        done
        # deb822 sources: one deb-src line per suite.
        for f in /etc/apt/sources.list.d/*.sources; do
            [ -f "$f" ] || continue
            awk 'function flush() { if (types ~ /(^| )deb( |$)/ && enabled != "no")
                                      for (i = 1; i <= ns; i++) for (j = 1; j <= nu; j++)
                                        print "deb-src" (key != "" ? " [signed-by=" key "]" : "") " " u[j] " " s[i] " " comps
                                    types = ""; key = ""; comps = ""; nu = 0; ns = 0; enabled = "" }
                 /^[[:space:]]*$/ { flush(); next }
                 /^Types:/ { sub(/^Types:[[:space:]]*/, ""); types = $0 }
                 /^URIs:/ { sub(/^URIs:[[:space:]]*/, ""); nu = split($0, u, " ") }
                 /^Suites:/ { sub(/^Suites:[[:space:]]*/, ""); ns = split($0, s, " ") }
                 /^Components:/ { sub(/^Components:[[:space:]]*/, ""); comps = $0 }
                 /^Signed-By:/ { sub(/^Signed-By:[[:space:]]*/, ""); key = $0 }
                 /^Enabled:/ { sub(/^Enabled:[[:space:]]*/, ""); enabled = $0 }
                 END { flush() }' "$f"
        done
    } | grep -v 'packages.cloud.google\|nodesource' > "$apt/sources.list"
    local opts=(-o "Dir::Etc::SourceList=$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
                -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -q)
    if [ ! -f "$apt/updated" ]; then
        apt-get "${opts[@]}" update >&2
        touch "$apt/updated"
    fi
    mkdir -p "$work/src"
    # The host's exact version first, then any version the mirror holds in full
    # (an index may list a version whose files are not there yet).
    local v
    for v in "$2" $(apt-cache "${opts[@]}" showsrc "$1" | sed -n 's/^Version: //p' | sort -rV); do
        rm -f "$work/src/$1"_*
        if (cd "$work/src" && apt-get "${opts[@]}" source --download-only "$1=$v" >&2); then
            return 0
        fi
    done
    log "no complete source of $1 on the mirror"
    return 1
}

unpack() { # package version -> prints the source folder
    local dsc
    dsc=$(ls "$work/src/$1"_*.dsc 2>/dev/null | tail -n1 || true)
    [ -n "$dsc" ] || { fetch_source "$1" "$2"; dsc=$(ls "$work/src/$1"_*.dsc | tail -n1); }
    local dir="$work/build/$1"
    rm -rf "$dir"
    mkdir -p "$work/build"
    dpkg-source --no-check -x "$dsc" "$dir" >&2
    echo "$dir"
}

run_nice() { nice -n "$nice_level" "$@"; }

if [ ! -f "$ssl_prefix/.complete" ]; then
    log "building OpenSSL $ssl_ver for $target into $ssl_prefix"
    src=$(unpack openssl "$ssl_debver")
    rm -rf "$ssl_prefix"
    (cd "$src" &&
        run_nice ./Configure mingw64 --cross-compile-prefix="$target-" --prefix="$ssl_prefix" \
            --libdir=lib shared no-tests >&2 &&
        run_nice make -j"$jobs" build_libs >&2 &&
        run_nice make install_dev install_runtime_libs >&2)
    basename "$(ls "$work/src/openssl"_*.dsc | tail -n1)" > "$ssl_prefix/.complete"
    rm -rf "$src"
fi

if [ ! -f "$qt_prefix/.complete" ]; then
    log "building Qt $qt_ver (qtbase) for $target into $qt_prefix"
    src=$(unpack qtbase-opensource-src "$qt_debver")
    rm -rf "$qt_prefix"
    build="$work/build/qtbase-build"
    rm -rf "$build"
    mkdir -p "$build"
    # Debian's source lacks wintab.h, so tablet events stay out (without that
    # the windows platform plugin does not build).
    (cd "$build" &&
        OPENSSL_LIBS="-L$ssl_prefix/lib -lssl -lcrypto -lws2_32 -lcrypt32" \
        run_nice "$src/configure" -prefix "$qt_prefix" -opensource -confirm-license \
            -xplatform win32-g++ -device-option CROSS_COMPILE="$target-" \
            -release -shared -nomake examples -nomake tests \
            -no-opengl -no-dbus -no-icu -qt-zlib -qt-pcre -qt-libpng -qt-libjpeg \
            -qt-freetype -qt-harfbuzz -no-sql-sqlite -no-feature-sql -no-feature-tabletevent \
            -openssl-linked -I "$ssl_prefix/include" -L "$ssl_prefix/lib" >&2 &&
        run_nice make -j"$jobs" >&2 &&
        run_nice make install >&2)
    basename "$(ls "$work/src/qtbase-opensource-src"_*.dsc | tail -n1)" > "$qt_prefix/.complete"
    rm -rf "$build" "$src"
fi

echo "$qt_prefix"
