#!/usr/bin/env bash
# The main job: packages, build, then the bundled sample book.
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
