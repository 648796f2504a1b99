# Shared by the benchmark scripts: installs what is missing, configures and builds the benchmark
# targets into the benchmark build directory (QUARNEL_BENCH_BUILD, default build-bench/), and
# runs one benchmark binary with the script's arguments.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QUARNEL_BENCH_BUILD:-$top/build-bench}"

bench_build() {
  "$top/scripts/install-deps"
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j "$(nproc)" --target "$@" >/dev/null
}

bench_run() {
  local name="$1"
  shift
  bench_build "$name"
  echo "== $name $* (load average now: $(cut -d' ' -f1-3 /proc/loadavg))"
  # A configuration directory of its own: the user's known modules would add probes to the runs.
  QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$build/bench/config" "$build/bench/$name" "$@"
}
