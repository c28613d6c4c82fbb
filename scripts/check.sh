#!/usr/bin/env bash
# Builds Velkrin and runs every test: the suite in a plain build, then again
# under AddressSanitizer and UndefinedBehaviorSanitizer. Needs no standard
# input; exits non-zero when anything fails. Installs what the tests need
# (Debian packages) when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${VELKRIN_JOBS:-2}

need_packages=()
command -v cmake >/dev/null || need_packages+=(cmake)
command -v g++ >/dev/null || need_packages+=(g++)
[ -e /usr/include/gtest/gtest.h ] || need_packages+=(libgtest-dev)
if [ ${#need_packages[@]} -gt 0 ]; then
  echo "== installing ${need_packages[*]}"
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need_packages[@]}"
fi

echo "== plain build and tests"
cmake -S "$root" -B "$root/build-check" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build-check" -j"$jobs"
ctest --test-dir "$root/build-check" --output-on-failure -j"$jobs"

echo "== AddressSanitizer and UndefinedBehaviorSanitizer build and tests"
cmake -S "$root" -B "$root/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DVELKRIN_SANITIZE=ON >/dev/null
cmake --build "$root/build-sanitize" -j"$jobs"
# abort_on_error: any report ends the process with SIGABRT, also in the
# program the end-to-end tests start. Without it UBSan exits with status 1,
# which a test of a failed write expects, and a report there went unnoticed.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:abort_on_error=1 \
  ctest --test-dir "$root/build-sanitize" --output-on-failure -j"$jobs"

echo "== all checks passed"
