#!/usr/bin/env bash
# The main job: packages, build, then the bundled sample book.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j"$(nproc)"
echo "Built. Programs are in build/release/bin."
