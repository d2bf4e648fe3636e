#!/usr/bin/env bash
# Builds the Debian package from a finished build, unpacks it into a
# temporary root (dpkg -x, nothing is installed on the machine) and compiles
# the sample book with the unpacked fvx.
#   packaging/package_test.sh BUILD_FOLDER
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || {
  cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/out/folivox_*.deb)
echo "package: $(basename "$deb") ($(du -k "$deb" | cut -f1) KiB)"

depends=$(dpkg-deb -f "$deb" Depends)
echo "depends: $depends"
for needed in libc6 libsqlite3 zlib1g; do
  grep -q "$needed" <<<"$depends" || { echo "missing dependency on $needed"; exit 1; }
done
contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/fvx ./usr/lib/folivox/bin/fvx ./usr/share/man/man1/fvx.1.gz \
            ./usr/share/mime/packages/folivox.xml; do
  grep -q " $path" <<<"$contents" || { echo "not in the package: $path"; exit 1; }
done
if [ -e "$build/bin/FvxC" ]; then
  for path in ./usr/lib/folivox/bin/FvxC ./usr/share/applications/FvxC.desktop \
              ./usr/lib/folivox/bin/ImagePlugins/; do
    grep -q " $path" <<<"$contents" || { echo "not in the package: $path"; exit 1; }
  done
fi

root="$work/root"
dpkg -x "$deb" "$root"
zcat "$root/usr/share/man/man1/fvx.1.gz" | grep -q '^\.B fvx compile' || {
  echo "fvx(1) lacks the compile command"; exit 1; }

# The sample book, compiled by the unpacked program through its /usr/bin link.
export FVX_HOME="$work/home" FVX_REGISTRY="$work/home/registry.db"
book="$work/book"
mkdir -p "$book"
cp -r "$root/usr/share/doc/folivox/examples/." "$book/"
"$root/usr/bin/fvx" compile --no-log "$book/solar_system.txt" >"$work/compile.log" || {
  cat "$work/compile.log"; exit 1; }
tail -n 1 "$work/compile.log"
# Warnings too: a picture the unpacked image library could not read is one.
grep -q '^0 error(s), 0 warning(s)$' "$work/compile.log"
"$root/usr/bin/fvx" verify "$book/solar_system.fvx"
echo "package test passed"
