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
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$root/build-sanitize" --output-on-failure -j"$jobs"

# ---------------------------------------------------------------------------
# Windows: velkrin.exe cross-built with MinGW-w64, and the same end-to-end
# suite run against it under Wine, expecting CR LF line ends on standard
# output and in new logbooks.
echo "== Windows build (MinGW-w64) and end-to-end tests under Wine"
windows_packages=()
command -v x86_64-w64-mingw32-g++ >/dev/null || windows_packages+=(g++-mingw-w64-x86-64)
command -v wine >/dev/null || windows_packages+=(wine wine64)
if [ ${#windows_packages[@]} -gt 0 ]; then
  echo "== installing ${windows_packages[*]}"
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${windows_packages[@]}"
fi
cmake -S "$root" -B "$root/build-windows" -DVELKRIN_BUILD_TESTS=OFF \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$root/build-windows" -j"$jobs"
(
  # A fresh, silent, headless Wine prefix, removed afterwards. Its server is
  # started first and kept for the whole run, and the prefix booted once
  # (a few seconds): the services Wine starts on first use would otherwise
  # inherit, and hold open, the output pipes of the first test.
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/velkrin-wine.XXXXXX")
  export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
  unset DISPLAY WAYLAND_DISPLAY
  trap 'wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1; rm -rf "$WINEPREFIX"' EXIT
  wineserver -p </dev/null >/dev/null 2>&1
  wineboot --init </dev/null >/dev/null 2>&1
  VELKRIN_PROGRAM="$root/build-windows/velkrin.exe" VELKRIN_LAUNCHER=wine VELKRIN_LINE_END=crlf \
    ctest --test-dir "$root/build-check" -R '^EndToEnd\.' --output-on-failure -j"$jobs"
)
# ---------------------------------------------------------------------------

echo "== all checks passed"
