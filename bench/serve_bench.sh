#!/bin/bash
# fvx serve under wrk on a book of 177 000 subjects: rendered pages per
# second and latency at 1, 16 and 64 connections, searches per second, and
# the server's memory before and after. Not part of CI.
#   bench/serve_bench.sh [BUILD_DIR] [SECONDS] [THREADS] [DOCUMENTS]
# DOCUMENTS: documents per book (default: one per thread; 1 = one shared).
# WORD_INDEX=1 builds the local word index (fvx index) before serving.
set -euo pipefail
build=${1:-build/release}
seconds=${2:-10}
threads=${3:-2}
documents=${4:-$threads}
work=$(mktemp -d)
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -rf "$work"' EXIT

"$build/bench/serve_bench_book" "$work/big.fvx"
echo "book: $(du -h "$work/big.fvx" | cut -f1), 177000 subjects; load: $(cut -d' ' -f1-3 /proc/loadavg)"

[ -n "${WORD_INDEX:-}" ] && FVX_HOME=$work/home "$build/bin/fvx" index "$work/big.fvx" > /dev/null
FVX_HOME=$work/home "$build/bin/fvx" serve "$work/big.fvx" --port 0 --threads "$threads" --documents "$documents" \
  --connections 1024 > "$work/out" &
server=$!
for _ in $(seq 50); do grep -q serving "$work/out" 2>/dev/null && break; sleep 0.1; done
url=$(grep -o 'http://[0-9.:]*' "$work/out")
rss() { grep VmRSS /proc/$server/status | awk '{print $2 " kB"}'; }
echo "server: $threads threads, $documents documents per book; RSS at start $(rss)"

cat > "$work/pages.lua" <<'LUA'
local n = 0
request = function()
  n = n + 1
  return wrk.format("GET", "/b/big/page/" .. ((n * 7919) % 177000))
end
LUA
cat > "$work/frames.lua" <<'LUA'
local n = 0
request = function()
  n = n + 1
  return wrk.format("GET", "/b/big/s/" .. ((n * 7919) % 177000))
end
LUA
cat > "$work/search.lua" <<'LUA'
local n = 0
request = function()
  n = n + 1
  return wrk.format("GET", "/b/big/search?w1=" .. ((n * 7919) % 177000))
end
LUA
cat > "$work/lookup.lua" <<'LUA'
local words = {"atlas 0", "river 03", "mountain 06", "valley 08", "coast 1", "island 17"}
local n = 0
request = function()
  n = n + 1
  return wrk.format("GET", "/b/big/lookup?q=" .. string.gsub(words[n % 6 + 1], " ", "+") .. (n % 10))
end
LUA

run() {  # name script connections
  local out
  out=$(wrk -t "$(( $3 < 2 ? 1 : 2 ))" -c "$3" -d "${seconds}s" --latency -s "$work/$2" "$url")
  local rate p50 p99 errors
  rate=$(echo "$out" | awk '/Requests\/sec/ {print $2}')
  p50=$(echo "$out" | awk '$1=="50%" {print $2}')
  p99=$(echo "$out" | awk '$1=="99%" {print $2}')
  errors=$(echo "$out" | grep -E "Non-2xx|Socket errors" | tr '\n' ' ' || true)
  printf '%-22s %3s conn  %9s req/s  p50 %8s  p99 %8s  %s\n' "$1" "$3" "$rate" "$p50" "$p99" "$errors"
}
for c in ${CONNECTIONS:-1 16 64}; do run "subject page (raw)" pages.lua $c; done
[ -n "${PAGES_ONLY:-}" ] || for c in 16; do run "subject page (framed)" frames.lua $c; done
[ -n "${PAGES_ONLY:-}" ] || for c in 1 16; do run "search (one word)" search.lua $c; done
[ -n "${PAGES_ONLY:-}" ] || run "heading lookup" lookup.lua 16
echo "RSS after the runs: $(rss)"
