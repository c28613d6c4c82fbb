# Sourced by the benchmarks that work on a generated logbook (journal.sh,
# import.sh), from the repository's root with `root` set. bench_build
# TARGET... installs /usr/bin/time when missing, builds the targets in
# build-bench/ (RelWithDebInfo, as the README does) and the logbook
# generator bench/make_logbook.cpp (with the core library, whose formats it
# uses) as build-bench/make_logbook; it sets
# `build` and `jobs`.
bench_build() {
  build=$root/build-bench
  jobs=${VELKRIN_JOBS:-2}
  [ -x /usr/bin/time ] || {
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time
  }
  echo "== building (RelWithDebInfo) in build-bench/" >&2
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKRIN_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j"$jobs" --target velkrin_core "$@" >/dev/null
  "${CXX:-c++}" -std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror -I"$root/src" \
    "$root/bench/make_logbook.cpp" "$build/src/libvelkrin_core.a" -o "$build/make_logbook"
}
