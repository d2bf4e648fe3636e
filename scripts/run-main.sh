#!/usr/bin/env bash
# The main job: packages, build, then the bundled sample book, compiled and read.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j"$(nproc)"
echo "Built. Programs are in build/release/bin."

# The sample book: compiled into the build folder, checked, and shown.
build/release/bin/fvx compile examples/solar_system.txt -o build/release/solar_system.fvx
build/release/bin/fvx verify build/release/solar_system.fvx
build/release/bin/fvx info build/release/solar_system.fvx

# With a display the book opens in the reader's window; without one it is
# read on the terminal: its subjects, then the first page as text.
if { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; } && [ -x build/release/bin/Folivox3 ]; then
  echo "Opening the sample book in Folivox3."
  exec build/release/bin/Folivox3 build/release/solar_system.fvx
fi
build/release/bin/fvx headings build/release/solar_system.fvx
build/release/bin/fvx show build/release/solar_system.fvx 0
