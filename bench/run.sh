#!/usr/bin/env bash
# Velkrin's benchmark: prints figures, asserts nothing.
#
#   bash bench/run.sh [N]      N QSOs in the session (default 2000)
#
# (a) N QSOs typed ahead into one velkrin session, against the floor of a
#     durable append (durable_append_floor: open, write 105 bytes, fsync,
#     close, N times) in the same folder;
# (b) the creation dialogue on a logbook of 10 QSO lines and on one of about
#     200 MB;
# (c) velkrin's peak resident memory in all three runs;
# (d) the system calls of one session of N QSOs typed ahead, per QSO
#     (strace -c, startup included), against the floor's 4.
# Each time is a whole process, the median of VELKRIN_BENCH_RUNS runs
# (default 5). Builds velkrin as the README does (RelWithDebInfo) in
# build-bench/ and works in a temporary folder inside it, so on the same file
# system as the sources; the folder is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
qsos=${1:-2000}
runs=${VELKRIN_BENCH_RUNS:-5}
big_lines=2000000  # 105 bytes each: about 210 MB
build=$root/build-bench
jobs=${VELKRIN_JOBS:-2}

[ -x /usr/bin/time ] || {
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time
}
# (d) counts system calls with strace.
command -v strace >/dev/null || {
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq strace
}

echo "== building (RelWithDebInfo) in build-bench/" >&2
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKRIN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target velkrin >/dev/null
"${CXX:-c++}" -std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror \
  "$root/bench/durable_append_floor.cpp" -o "$build/durable_append_floor"
velkrin=$build/velkrin
floor=$build/durable_append_floor

work=$(mktemp -d "$build/run.XXXXXX")
trap 'rm -rf "$work"' EXIT

qso_line='01-02-2026    905    930       DL1XYZ      Hans              7055 kHz   J3E    Paris_15                 '
creation_input='4\n1\nF4ABC 01-02-2026\n1\n5\n'
# The timed creations give the logbooks another owner, so the header really
# changes; its length does not, so each run finds the same file.
recreation_input='4\n1\nF5XYZ 03-04-2027\n1\n5\n'

# timed FOLDER INPUT COMMAND...: runs COMMAND in FOLDER with INPUT as standard
# input and standard output to /dev/null; sets `seconds` and `rss_kib`.
timed() {
  local folder=$1 input=$2
  shift 2
  local start end
  start=$(date +%s%N)
  (cd "$folder" && /usr/bin/time -v -o "$work/time.txt" "$@" <"$input" >/dev/null)
  end=$(date +%s%N)
  seconds=$(awk -v d=$((end - start)) 'BEGIN { printf "%.4f", d / 1e9 }')
  rss_kib=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
max() { printf '%s\n' "$@" | sort -g | tail -n 1; }
fail() {
  echo "bench: $*" >&2
  exit 1
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }

printf '%b' "$creation_input" >"$work/creation.in"
printf '%b' "$recreation_input" >"$work/recreation.in"
# Standard input of the session: menu 1, then N QSOs each confirmed with 1,
# "another" 1 after each but the last (0), then 5 at the return prompt.
awk -v n="$qsos" 'BEGIN {
  print 1
  for (i = 1; i <= n; i++) {
    print "01-02-2026 0905 930 DL1XYZ Hans 7055 J3E Paris_15"
    print 1
    print (i < n ? 1 : 0)
  }
  print 5
}' >"$work/session.in"
: >"$work/empty.in"

session_s=() floor_s=() session_ratios=() session_rss=()
small_s=() big_s=() header_ratios=() small_rss=() big_rss=()

# (a) Velkrin and the floor run in the same folder, one after the other,
# taking turns at going first, so that both meet the same disk; the ratio is
# the median of the runs' own ratios.
for run in $(seq "$runs"); do
  folder=$work/session.$run
  mkdir "$folder"
  (cd "$folder" && "$velkrin" <"$work/creation.in" >/dev/null)
  sync
  for turn in 1 2; do
    if [ $(((run + turn) % 2)) -eq 0 ]; then
      timed "$folder" "$work/session.in" "$velkrin"
      session_s+=("$seconds") session_rss+=("$rss_kib")
      [ "$(wc -l <"$folder/journal_de_bord.txt")" -eq $((qsos + 6)) ] ||
        fail "the session did not record $qsos QSOs"
    else
      timed "$folder" "$work/empty.in" "$floor" floor.txt "$qsos"
      floor_s+=("$seconds")
    fi
  done
  session_ratios+=("$(ratio "${session_s[-1]}" "${floor_s[-1]}")")
  rm -rf "$folder"
  echo "   run $run: session ${session_s[-1]} s, floor ${floor_s[-1]} s," \
    "ratio ${session_ratios[-1]}" >&2
done

# (d) One more session, under strace -c: its system calls per QSO, and which.
folder=$work/calls
mkdir "$folder"
(cd "$folder" && "$velkrin" <"$work/creation.in" >/dev/null)
(cd "$folder" && strace -c -o "$work/calls.txt" "$velkrin" <"$work/session.in" >/dev/null)
[ "$(wc -l <"$folder/journal_de_bord.txt")" -eq $((qsos + 6)) ] ||
  fail "the traced session did not record $qsos QSOs"
# strace -c's columns: % time, seconds, usecs/call, calls, [errors,] name.
calls_total=$(awk '$NF == "total" { print $4 }' "$work/calls.txt")
calls_per_qso=$(awk -v c="$calls_total" -v n="$qsos" 'BEGIN { printf "%.2f", c / n }')
calls_detail=$(awk -v n="$qsos" 'NR > 2 && $NF != "total" && $1 !~ /^-/ && $4 >= n / 20 {
  printf "%s%s %.2f", sep, $NF, $4 / n; sep = ", " }' "$work/calls.txt")
rm -rf "$folder"

# (b) Logbooks with a header written by velkrin itself, then the QSO lines.
# Written after (a), and flushed, so that their write-back does not slow it.
mkdir "$work/small" "$work/big"
for size in small big; do
  (cd "$work/$size" && "$velkrin" <"$work/creation.in" >/dev/null)
done
lines() { awk -v n="$1" -v line="$qso_line" 'BEGIN { for (i = 0; i < n; i++) print line }'; }
lines 10 >>"$work/small/journal_de_bord.txt"
echo "== writing a logbook of $big_lines QSO lines" >&2
lines "$big_lines" >>"$work/big/journal_de_bord.txt"
sync
big_bytes=$(stat -c %s "$work/big/journal_de_bord.txt")

for run in $(seq "$runs"); do
  for size in small big; do
    logbook=$work/$size/journal_de_bord.txt
    before=$(stat -c %s "$logbook")
    timed "$work/$size" "$work/recreation.in" "$velkrin"
    if [ "$(stat -c %s "$logbook")" -ne "$before" ] || ! head -n 2 "$logbook" | grep -q F5XYZ; then
      fail "the creation dialogue did not rewrite the header of the $size logbook in place"
    fi
    # Back to the first owner, untimed, so that the next run changes it again.
    (cd "$work/$size" && "$velkrin" <"$work/creation.in" >/dev/null)
    if [ "$size" = small ]; then
      small_s+=("$seconds") small_rss+=("$rss_kib")
    else
      big_s+=("$seconds") big_rss+=("$rss_kib")
    fi
  done
  header_ratios+=("$(ratio "${big_s[-1]}" "${small_s[-1]}")")
  echo "   run $run: header ${small_s[-1]} s (10 lines), ${big_s[-1]} s (big)," \
    "ratio ${header_ratios[-1]}" >&2
done

session=$(median "${session_s[@]}") floor_time=$(median "${floor_s[@]}")
small=$(median "${small_s[@]}") big=$(median "${big_s[@]}")
big_mb=$(awk -v b="$big_bytes" 'BEGIN { printf "%.0f MB", b / 1e6 }')

echo
file_system=$(df --output=fstype "$work" | tail -n 1)
echo "Velkrin bench, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $file_system file system,"
echo "N = $qsos, median of $runs runs, velkrin's screens to /dev/null"
echo
echo "| measure | velkrin | reference | ratio | target |"
echo "| --- | ---: | ---: | ---: | ---: |"
echo "| $qsos durable QSOs, one session | ${session} s | floor ${floor_time} s | $(median "${session_ratios[@]}") | <= 1.25 |"
echo "| header rewrite, $big_mb logbook | ${big} s | 10 lines ${small} s | $(median "${header_ratios[@]}") | <= 1.5 |"
echo "| peak memory, $qsos-QSO session | $(mib "$(max "${session_rss[@]}")") | | | <= 8 MiB |"
echo "| peak memory, header on 10 lines | $(mib "$(max "${small_rss[@]}")") | | | <= 8 MiB |"
echo "| peak memory, header on $big_mb | $(mib "$(max "${big_rss[@]}")") | | | <= 8 MiB |"
echo "| system calls per QSO typed ahead | $calls_per_qso | floor 4 | | <= 10 |"
echo
echo "System calls per QSO: $calls_detail"
