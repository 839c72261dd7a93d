#!/usr/bin/env bash
# Installs Quillet's office extension (quillet-marks.oxt: the office draws
# Quillet's marks through it) into LibreOffice: for this user, or for every
# user when run as root (unopkg installs nothing per user for root). Safe to
# run again: the installed copy is replaced. An office that is running picks
# it up when it is next started.
#   scripts/install-office-extension.sh FILE.oxt [PROFILE_URL]
set -euo pipefail
oxt=${1:?usage: install-office-extension.sh FILE.oxt [PROFILE_URL]}
unopkg=/usr/lib/libreoffice/program/unopkg
[ -x "$unopkg" ] || unopkg=$(command -v unopkg)
args=(add --force)
if [ "$(id -u)" -eq 0 ]; then
    args+=(--shared)
elif [ -n "${2:-}" ]; then
    args+=("-env:UserInstallation=$2")
fi
"$unopkg" "${args[@]}" "$oxt" >/dev/null
