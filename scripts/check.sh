#!/usr/bin/env bash
# Builds Velkrin and runs every test: the suite in a plain build, then again
# under AddressSanitizer and UndefinedBehaviorSanitizer, with warnings as
# errors in every build (VELKRIN_WERROR). Needs no standard input; exits
# non-zero when anything fails. Installs what the tests need (Debian
# packages) when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${VELKRIN_JOBS:-2}

# Installs Debian packages; a failing update or install stops the check.
install_packages() {
  echo "== installing $*"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@"
}

need_packages=()
command -v cmake >/dev/null || need_packages+=(cmake)
command -v g++ >/dev/null || need_packages+=(g++)
[ -e /usr/include/gtest/gtest.h ] || need_packages+=(libgtest-dev)
# The ADIF export is read back by two npm packages, installed by the tests.
command -v node >/dev/null || need_packages+=(nodejs)
command -v npm >/dev/null || need_packages+=(npm)
# The country files that the tests of the call sign resolution read.
[ -e /usr/share/hamradio-files/cty.csv ] || need_packages+=(hamradio-files)
# LoTW's signer TQSL, which one test runs for real (with HOME in a scratch
# folder, so that no certificate can sign), and the virtual display it needs.
command -v tqsl >/dev/null || need_packages+=(trustedqsl)
command -v xvfb-run >/dev/null || need_packages+=(xvfb)
command -v xauth >/dev/null || need_packages+=(xauth)
if [ ${#need_packages[@]} -gt 0 ]; then
  install_packages "${need_packages[@]}"
fi

# ---------------------------------------------------------------------------
# The crash tests (tests/crash/, run with the plain build) kill each writing
# operation at every system call under strace.
command -v strace >/dev/null || install_packages strace
# ---------------------------------------------------------------------------

echo "== plain build and tests"
cmake -S "$root" -B "$root/build-check" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKRIN_WERROR=ON >/dev/null
cmake --build "$root/build-check" -j"$jobs"
ctest --test-dir "$root/build-check" --output-on-failure -j"$jobs"

echo "== AddressSanitizer and UndefinedBehaviorSanitizer build and tests"
cmake -S "$root" -B "$root/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DVELKRIN_SANITIZE=ON \
  -DVELKRIN_WERROR=ON >/dev/null
cmake --build "$root/build-sanitize" -j"$jobs"
# abort_on_error: any report ends the process with SIGABRT, also in the
# program the end-to-end tests start. Without it UBSan exits with status 1,
# which a test of a failed write expects, and a report there went unnoticed.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:abort_on_error=1 \
  ctest --test-dir "$root/build-sanitize" --output-on-failure -j"$jobs"

# ---------------------------------------------------------------------------
# Fuzzing under libFuzzer (Clang 14, ASan + UBSan), each target from a copy of
# its seed corpus, for a bounded time: the whole menu loop, and the logbook
# reader with the ADIF export. Any finding (crash, sanitizer report, broken
# promise, hang past -timeout, leak) fails the check; the input that caused
# it is kept in build-fuzz/findings/. VELKRIN_FUZZ_SECONDS changes the time
# of the menu loop, the others get half of it (the README says how to fuzz
# longer by hand).
fuzz_seconds=${VELKRIN_FUZZ_SECONDS:-60}
fuzz_packages=()
command -v clang++-14 >/dev/null || fuzz_packages+=(clang-14)
fuzz_runtime=$(clang++-14 --print-runtime-dir 2>/dev/null || true)
if ! compgen -G "$fuzz_runtime/libclang_rt.fuzzer-*.a" >/dev/null; then
  fuzz_packages+=(libclang-rt-14-dev)
fi
if [ ${#fuzz_packages[@]} -gt 0 ]; then
  install_packages "${fuzz_packages[@]}"
fi
cmake -S "$root" -B "$root/build-fuzz" -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKRIN_BUILD_TESTS=OFF -DVELKRIN_FUZZ=ON -DVELKRIN_WERROR=ON >/dev/null
cmake --build "$root/build-fuzz" -j"$jobs" --target velkrin_menu_fuzzer velkrin_logbook_fuzzer
fuzz_work=$(mktemp -d)
# Each input of the menu loop gets its own logbook folder under TMPDIR; a
# memory file system spares the disk the flush of every write, which the
# checks do not need. Removed at the end with whatever an input that crashed
# left there.
fuzz_tmp=$fuzz_work/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && fuzz_tmp=$(mktemp -d /dev/shm/velkrin-fuzz.XXXXXX)
trap 'rm -rf "$fuzz_work" "$fuzz_tmp"' EXIT
mkdir -p "$fuzz_tmp"

# run_fuzzer TARGET SECONDS CORPUS [libFuzzer options...]
run_fuzzer() {
  local target=$1 seconds=$2 corpus=$3
  shift 3
  echo "== fuzzing $target for ${seconds} s"
  local work=$fuzz_work/$target
  mkdir -p "$work/corpus" "$work/artifacts"
  cp "$corpus"/* "$work/corpus/"
  local status=0
  TMPDIR=$fuzz_tmp "$root/build-fuzz/$target" "$@" \
    -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log" 2>&1 || status=$?
  if [ "$status" -ne 0 ] || [ -n "$(ls -A "$work/artifacts")" ]; then
    tail -n 60 "$work/log"
    mkdir -p "$root/build-fuzz/findings"
    cp "$work"/artifacts/* "$root/build-fuzz/findings/" 2>/dev/null || true
    echo "== the fuzzer found a fault (status $status); inputs in build-fuzz/findings/:"
    ls "$root/build-fuzz/findings"
    exit 1
  fi
  grep -E '^(Done|stat::new_units_added|stat::peak_rss_mb)' "$work/log" || true
  echo "== fuzzing found nothing ($(find "$work/corpus" -type f | wc -l) inputs in the corpus)"
}
run_fuzzer velkrin_menu_fuzzer "$fuzz_seconds" "$root/fuzz/corpus" -dict="$root/fuzz/menu.dict"
run_fuzzer velkrin_logbook_fuzzer $((fuzz_seconds / 2)) "$root/fuzz/logbook_corpus" -max_len=8192
# The reader's two ways of splitting a QSO line (by its columns, on blanks)
# must give the same words on any line.
cmake --build "$root/build-fuzz" -j"$jobs" --target velkrin_line_columns_fuzzer
run_fuzzer velkrin_line_columns_fuzzer $((fuzz_seconds / 3)) "$root/fuzz/corpus-line-columns" \
  -max_len=1024

# ---------------------------------------------------------------------------
# Fuzzing the readers of what comes from outside: ADIF files given to the
# import, and the datagrams that WSJT-X and JTDX send to the live log. Pure
# code over bytes; the ADIF target also checks that the records read do not
# depend on how the bytes are split. VELKRIN_PARSER_FUZZ_SECONDS changes the
# time per target.
parser_fuzz_seconds=${VELKRIN_PARSER_FUZZ_SECONDS:-15}
cmake --build "$root/build-fuzz" -j"$jobs" --target velkrin_adif_reader_fuzzer velkrin_wsjtx_fuzzer
run_fuzzer velkrin_adif_reader_fuzzer "$parser_fuzz_seconds" "$root/fuzz/corpus-adif" \
  -dict="$root/fuzz/adif.dict" -rss_limit_mb=512
run_fuzzer velkrin_wsjtx_fuzzer "$parser_fuzz_seconds" "$root/fuzz/corpus-wsjtx"
# The logbook's details file, read and repaired as the commands do.
cmake --build "$root/build-fuzz" -j"$jobs" --target velkrin_details_fuzzer
run_fuzzer velkrin_details_fuzzer "$parser_fuzz_seconds" "$root/fuzz/corpus-details" \
  -dict="$root/fuzz/adif.dict" -max_len=4096
# The country files and the supercheck list that an operator drops beside
# the logbook.
cmake --build "$root/build-fuzz" -j"$jobs" --target velkrin_countries_fuzzer
run_fuzzer velkrin_countries_fuzzer "$parser_fuzz_seconds" "$root/fuzz/corpus-countries" \
  -max_len=4096
# What TQSL prints, from the recorded runs of the real program (each behind
# two bytes: status 9, 3 QSOs).
cmake --build "$root/build-fuzz" -j"$jobs" --target velkrin_tqsl_fuzzer
tqsl_seeds=$fuzz_work/tqsl-seeds
mkdir -p "$tqsl_seeds"
for recorded in "$root"/tests/adif/data/tqsl/*.txt; do
  { printf '\x09\x03'; cat "$recorded"; } >"$tqsl_seeds/$(basename "$recorded")"
done
run_fuzzer velkrin_tqsl_fuzzer $((parser_fuzz_seconds / 2)) "$tqsl_seeds" -max_len=4096

# Windows: velkrin.exe cross-built with MinGW-w64, and the same end-to-end
# suite run against it under Wine, expecting CR LF line ends on standard
# output and in new logbooks.
echo "== Windows build (MinGW-w64) and end-to-end tests under Wine"
windows_packages=()
command -v x86_64-w64-mingw32-g++ >/dev/null || windows_packages+=(g++-mingw-w64-x86-64)
command -v wine >/dev/null || windows_packages+=(wine wine64)
if [ ${#windows_packages[@]} -gt 0 ]; then
  install_packages "${windows_packages[@]}"
fi
cmake -S "$root" -B "$root/build-windows" -DVELKRIN_BUILD_TESTS=OFF -DVELKRIN_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$root/build-windows" -j"$jobs"
(
  source "$root/scripts/wine-prefix.sh"
  start_wine_prefix
  VELKRIN_PROGRAM="$root/build-windows/velkrin.exe" VELKRIN_LAUNCHER=wine VELKRIN_LINE_END=crlf \
    ctest --test-dir "$root/build-check" -R '^EndToEnd\.' --output-on-failure -j"$jobs"
  VELKRIN_PROGRAM="$root/build-windows/velkrin.exe" VELKRIN_LAUNCHER=wine \
    VELKRIN_JOURNAL_PROGRAM="$root/build-windows/velkrin-journal.exe" \
    VELKRIN_ADIF_PROGRAM="$root/build-windows/velkrin-adif.exe" \
    ctest --test-dir "$root/build-check" -R '^JournalEndToEnd\.' --output-on-failure -j"$jobs"
  # The import and the live log of velkrin-adif.exe (Winsock under Wine,
  # Ctrl-C as SIGINT), on logbooks that the Linux velkrin makes.
  VELKRIN_ADIF_PROGRAM="$root/build-windows/velkrin-adif.exe" VELKRIN_LAUNCHER=wine \
    ctest --test-dir "$root/build-check" -R '^adif\.ImportEndToEnd\.' --output-on-failure -j"$jobs"
)
# ---------------------------------------------------------------------------

# ---------------------------------------------------------------------------
# Documents and packages: manual pages, the HTML guide, the .deb and the
# Windows ZIP built from build-check/ and build-windows/ into
# build-packages/, their contents checked and their programs run (the ZIP's
# under Wine). scripts/check-packages.sh says what it checks.
bash "$root/scripts/check-packages.sh"
# ---------------------------------------------------------------------------

echo "== all checks passed"
