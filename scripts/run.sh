#!/usr/bin/env bash
# Builds Quillet, starts the bundled checking service on 127.0.0.1:8790 and runs
# the Revisor client in the foreground; the service stops when Revisor exits.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
DATA_DIR="${XDG_DATA_HOME:-$HOME/.local/share}/quillet-service"
LISTEN=127.0.0.1:8790

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR"

SERVICE="$BUILD_DIR/service/quillet-service"
mkdir -p "$DATA_DIR"
if [ -z "$("$SERVICE" user list --data "$DATA_DIR")" ]; then
    echo demo-password | "$SERVICE" user add demo --data "$DATA_DIR" >/dev/null
    echo "No account existed: created user \"demo\" with password \"demo-password\" in $DATA_DIR."
fi

log="$DATA_DIR/service.log"
"$SERVICE" serve --listen "$LISTEN" --data "$DATA_DIR" >"$log" 2>&1 &
service_pid=$!
stop_service() {
    kill -TERM "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
}
trap stop_service EXIT

# Wait for the ready line (the lexicon takes a moment to load).
for _ in $(seq 1 100); do
    if grep -q "listening on" "$log" 2>/dev/null; then break; fi
    if ! kill -0 "$service_pid" 2>/dev/null; then
        echo "quillet-service did not start:" >&2
        cat "$log" >&2
        exit 1
    fi
    sleep 0.1
done
echo "$(head -n1 "$log") (data: $DATA_DIR)"

QUILLET_SERVICE_URL="http://$LISTEN/" "$BUILD_DIR/host/Revisor" "$@"
