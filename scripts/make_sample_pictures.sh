#!/usr/bin/env bash
# Redraws the sample book's pictures into examples/pictures/. The drawing is
# deterministic: with the same Qt, libjpeg and zlib the files come out byte
# for byte the same, which fvx_sample_pictures_tests checks.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/pictures}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target fvx_make_sample_pictures -j2
mkdir -p examples/pictures
"$build/bin/fvx_make_sample_pictures" examples/pictures
echo "Wrote examples/pictures/."
