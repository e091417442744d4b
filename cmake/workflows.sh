#!/usr/bin/env bash
# Configures, builds and tests every workflow preset of CMakePresets.json in
# its order (or only those named as arguments), stopping at the first that
# fails.  A new preset is run without editing this file.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -gt 0 ]; then
  presets=("$@")
else
  mapfile -t presets < <(cmake --workflow --list-presets | sed -n 's/^ *"\([^"]*\)".*/\1/p')
fi
[ ${#presets[@]} -gt 0 ] || { echo "no workflow presets found" >&2; exit 1; }
for preset in "${presets[@]}"; do
  echo "== cmake --workflow --preset $preset"
  cmake --workflow --preset "$preset"
done
