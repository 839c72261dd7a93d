#!/usr/bin/env bash
# Quillet's run command: builds what it runs (Revisor and quillet-service),
# starts the bundled checking service on 127.0.0.1:8790 (or uses the one already
# running there), opens a sample document with errors in LibreOffice Writer and
# starts Revisor beside it. Press "校对本页" in the tool window to check the page
# (log in as demo / demo-password).
#
# Without a display (a server, CI) the same command runs everything under a
# virtual X server, presses the check button itself and writes screenshots of
# the result into a folder it names: $QUILLET_SCREENSHOTS, by default
# ./quillet-screenshots.
#
# Environment: BUILD_DIR (default build), QUILLET_SAMPLE (a document to open
# instead of the sample; "none" opens nothing).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
BUILD_DIR=${BUILD_DIR:-build}
DATA_DIR="${XDG_DATA_HOME:-$HOME/.local/share}/quillet-service"
LISTEN=127.0.0.1:8790
DEMO_PASSWORD=demo-password

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" --target Revisor quillet-service quillet_lexicon quillet_marks_oxt
OXT="$BUILD_DIR/host/libreoffice/quillet-marks.oxt"

pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -TERM "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
}
trap cleanup EXIT

listening() { (exec 3<>"/dev/tcp/${1%:*}/${1#*:}") 2>/dev/null; }

# --- The checking service --------------------------------------------------------
SERVICE="$BUILD_DIR/service/quillet-service"
if listening "$LISTEN"; then
    echo "Using the checking service already running on http://$LISTEN/."
else
    # Without a display, a service of its own with just the demo account.
    [ -z "${DISPLAY:-}" ] && DATA_DIR=$(mktemp -d)
    mkdir -p "$DATA_DIR"
    if [ -z "$("$SERVICE" user list --data "$DATA_DIR")" ]; then
        echo "$DEMO_PASSWORD" | "$SERVICE" user add demo --data "$DATA_DIR" >/dev/null
        echo "No account existed: created user \"demo\" with password \"$DEMO_PASSWORD\" in $DATA_DIR."
    fi
    log="$DATA_DIR/service.log"
    "$SERVICE" serve --listen "$LISTEN" --data "$DATA_DIR" >"$log" 2>&1 &
    pids+=($!)
    # Wait for the ready line (the lexicon takes a moment to load).
    for _ in $(seq 1 100); do
        if grep -q "listening on" "$log" 2>/dev/null; then break; fi
        if ! kill -0 "${pids[-1]}" 2>/dev/null; then
            echo "quillet-service did not start:" >&2
            cat "$log" >&2
            exit 1
        fi
        sleep 0.1
    done
    echo "$(head -n1 "$log") (data: $DATA_DIR)"
fi
export QUILLET_SERVICE_URL="http://$LISTEN/"

# --- A display ---------------------------------------------------------------------
headless=false
if [ -z "${DISPLAY:-}" ]; then
    headless=true
    for tool in Xvfb openbox xdotool import soffice; do
        command -v "$tool" >/dev/null || { echo "No display, and $tool is missing: run scripts/setup-debian.sh." >&2; exit 1; }
    done
    exec 5< <(Xvfb -displayfd 1 -screen 0 1600x1000x24 -nolisten tcp -r 2>/dev/null)
    pids+=($!)
    read -r -t 20 number <&5 || { echo "Xvfb did not start." >&2; exit 1; }
    export DISPLAY=":$number"
    openbox >/dev/null 2>&1 &
    pids+=($!)
    echo "No display: running on a virtual one ($DISPLAY)."
fi

# --- The sample document in Writer ---------------------------------------------------
sample=${QUILLET_SAMPLE:-}
if [ -z "$sample" ]; then
    # A fresh copy each time, so the errors are there to find; on the virtual
    # display one of its own, which no other office holds open.
    sample_dir="${XDG_DATA_HOME:-$HOME/.local/share}/quillet"
    $headless && sample_dir=$(mktemp -d)
    mkdir -p "$sample_dir"
    sample="$sample_dir/quillet-sample.fodt"
    rm -f "$sample_dir/.~lock.quillet-sample.fodt#"
    cp "$root/resources/sample/quillet-sample.fodt" "$sample"
fi
# The office draws Quillet's marks through its extension: installed (again)
# for this user, for every user when run as root; on the virtual display into
# the private office's profile.
profile=""
$headless && profile="file://$(mktemp -d)/profile"
if [ -f "$OXT" ] && command -v soffice >/dev/null; then
    if ! $headless && [ "$(id -u)" -ne 0 ] && pgrep -u "$(id -u)" -x soffice.bin >/dev/null; then
        echo "Installing Quillet's office extension: restart LibreOffice once so that it shows the marks."
    fi
    scripts/install-office-extension.sh "$OXT" $profile || echo "Could not install $OXT into LibreOffice." >&2
fi
if [ "$sample" != none ]; then
    if command -v soffice >/dev/null; then
        office_args=(--writer --norestore --nologo)
        # On the virtual display an office of its own, apart from any the user runs.
        $headless && office_args+=("-env:UserInstallation=$profile")
        soffice "${office_args[@]}" "$sample" >/dev/null 2>&1 &
        $headless && pids+=($!)
        echo "Opened $sample in LibreOffice Writer."
    else
        echo "LibreOffice Writer is not installed (scripts/setup-debian.sh installs it); starting without a document."
    fi
fi

# --- Revisor -------------------------------------------------------------------------
REVISOR="$BUILD_DIR/host/Revisor"
if ! $headless; then
    "$REVISOR" "$@"
    exit $?
fi

shots=${QUILLET_SCREENSHOTS:-$root/quillet-screenshots}
mkdir -p "$shots"
revisor_log=$(mktemp)
# Settings of its own, so that the demo account logs in afresh.
XDG_CONFIG_HOME=$(mktemp -d) QT_LOGGING_RULES="quillet.startup.debug=true" "$REVISOR" "$@" >"$revisor_log" 2>&1 &
pids+=($!)

wait_for() { # seconds, command...: retries the command until it succeeds
    local limit=$1
    shift
    for _ in $(seq 1 $((limit * 5))); do
        if "$@" >/dev/null 2>&1; then return 0; fi
        sleep 0.2
    done
    return 1
}
wait_for 20 grep -q "tool window shown" "$revisor_log" || { cat "$revisor_log" >&2; exit 1; }
read -r check_x check_y next_x next_y < <(sed -n 's/.*btnCheckCurrentPage \([0-9]*\),\([0-9]*\) btnNext \([0-9]*\),\([0-9]*\).*/\1 \2 \3 \4/p' "$revisor_log" | head -n1)
tool=$(xdotool search --name "Quillet-" | head -n1)
# Beside the page, not over it.
xdotool windowmove "$tool" 1165 560

if ! wait_for 90 xdotool search --class libreoffice-writer; then
    echo "No Writer window appeared." >&2
    exit 1
fi
sleep 3 # let the document finish loading
writer=$(xdotool search --class libreoffice-writer | tail -n1)
# The user moves from the tool window into the document: Revisor detects the
# Writer window as it becomes active and attaches to its document.
xdotool windowactivate --sync "$tool"
sleep 0.5
xdotool windowactivate --sync "$writer"
sleep 3

xdotool mousemove --window "$tool" "$check_x" "$check_y" click 1
# The first check asks for the account: the demo user.
if wait_for 10 xdotool search --name "^(登录|Login)$"; then
    login=$(xdotool search --name "^(登录|Login)$" | head -n1)
    xdotool windowactivate --sync "$login" type --delay 20 "demo"
    xdotool key Tab type --delay 20 "$DEMO_PASSWORD"
    xdotool key Return
fi
sleep 5 # the check runs and the marks are set
import -window root "$shots/1-marks.png"

# Step to the first error: the popup opens below it.
xdotool mousemove --window "$tool" "$next_x" "$next_y" click 1
sleep 1
import -window root "$shots/2-popup.png"
import -window "$tool" "$shots/3-tool-window.png"

# Checking as the user types: a new paragraph at the end of the document,
# typed as a user would; its error is marked after the pause (in the paragraph
# that holds the caret the office draws new marks after a delay of its own).
xdotool windowactivate --sync "$writer"
xdotool key ctrl+End Return
xdotool type --delay 80 "我们以经准备好了。"
sleep 5
import -window root "$shots/4-typing.png"
echo "Screenshots of the check: $shots (1-marks.png, 2-popup.png, 3-tool-window.png, 4-typing.png)"
