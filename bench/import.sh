#!/usr/bin/env bash
# The import's benchmark: prints figures, asserts nothing but correctness.
#
#   bash bench/import.sh
#
# 100,000 ADIF records (in WSJT-X's shape: 90,000 new QSOs and 10,000 that
# the logbook already holds) imported into a logbook of 1,000,000 QSOs
# (about 105 MB: 50,000 distinct call signs over 20 years, in date order,
# its header written by velkrin itself). Side by side in the same run, two
# floors: awk counting the lines of both files (reading them), and dd
# copying the logbook with a flush to disk (what an all-or-nothing append
# by copy and rename cannot do without). Each time is a whole process, the
# median of VELKRIN_BENCH_RUNS runs (default 3); the memory is the peak
# resident set. Builds in build-bench/ and works in a temporary folder
# inside it, removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=${VELKRIN_BENCH_RUNS:-3}
build=$root/build-bench
jobs=${VELKRIN_JOBS:-2}

[ -x /usr/bin/time ] || {
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time
}

echo "== building (RelWithDebInfo) in build-bench/" >&2
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKRIN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target velkrin velkrin-adif >/dev/null
work=$(mktemp -d "$build/import.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "== writing a logbook of 1,000,000 QSOs and an ADIF file of 100,000 records" >&2
printf '4\n1\nF4ABC 01-01-2006\n1\n5\n' | (cd "$work" && "$build/velkrin" >/dev/null)
# Call sign number k as letter, digit, three letters (50,000 distinct ones).
awk -v logbook="$work/journal_de_bord.txt" -v adif="$work/wsjtx.adi" '
function call(k) {
  return sprintf("%c%d%c%c%c", 65 + k % 26, int(k / 26) % 10, 65 + int(k / 260) % 26,
                 65 + int(k / 6760) % 26, 65 + int(k / 175760) % 26)
}
function field(name, value) { return "<" name ":" length(value) ">" value " " }
BEGIN {
  split("7074 14074 21074 3573 28074 7055 14200 10136", khz, " ")
  split("FT8 FT8 FT8 FT8 FT8 J3E J3E FT8", class, " ")
  split("FT8 FT8 FT8 FT8 FT8 SSB SSB FT8", mode, " ")
  day0 = 13149  # 01-01-2006, in days since 1970
  print "WSJT-X ADIF Export\n<adif_ver:5>3.1.1\n<programid:6>WSJT-X\n<EOH>" > adif
  for (i = 0; i < 1000000; i++) {
    d = day0 + int(i / 137); m = (i % 137) * 10
    k = (i * 7919) % 50000; b = 1 + (i % 8)
    # Civil date from the day number.
    z = d + 719468; era = int(z / 146097); doe = z - era * 146097
    yoe = int((doe - int(doe / 1460) + int(doe / 36524) - int(doe / 146096)) / 365)
    doy = doe - (365 * yoe + int(yoe / 4) - int(yoe / 100)); mp = int((5 * doy + 2) / 153)
    dd = doy - int((153 * mp + 2) / 5) + 1; mm = mp < 10 ? mp + 3 : mp - 9
    yy = yoe + era * 400 + (mm <= 2)
    date = sprintf("%02d-%02d-%04d", dd, mm, yy)
    start = int(m / 60) * 100 + m % 60; end = start
    printf "%-10s   %4d    %-4d      %-9s   %-15s %6d kHz   %-3s    %-25s\n", date, start, end,
           call(k), "-", khz[b], class[b], "JN18" >> logbook
    # Every hundredth QSO again in the ADIF file: a duplicate.
    if (i % 100 == 0) adif_record(yy, mm, dd, start, k, b)
  }
  # The new QSOs: 120 a day from 01-01-2026, one every 12 minutes.
  for (j = 0; j < 90000; j++) {
    day = int(j / 120); m = (j % 120) * 12
    adif_record(2026 + int(day / 336), 1 + int(day / 28) % 12, 1 + day % 28,
                int(m / 60) * 100 + m % 60, 50000 + j % 20000, 1 + j % 8)
  }
}
function adif_record(yy, mm, dd, start, k, b,   date, time) {
  date = sprintf("%04d%02d%02d", yy, mm, dd); time = sprintf("%04d15", start)
  printf "%s%s%s%s%s%s%s%s%s%s%s%s<eor>\n", field("call", call(k)), field("gridsquare", "JN03"),
         field("mode", mode[b]), field("rst_sent", "-10"), field("rst_rcvd", "-12"),
         field("qso_date", date), field("time_on", time), field("qso_date_off", date),
         field("time_off", time), field("freq", sprintf("%.6f", khz[b] / 1000)),
         field("station_callsign", "F4ABC"), field("my_gridsquare", "JN18") >> adif
}'
sync
logbook_bytes=$(stat -c %s "$work/journal_de_bord.txt")
adif_bytes=$(stat -c %s "$work/wsjtx.adi")

timed() {
  local start end
  start=$(date +%s%N)
  /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null 2>"$work/err.txt"
  end=$(date +%s%N)
  seconds=$(awk -v d=$((end - start)) 'BEGIN { printf "%.3f", d / 1e9 }')
  rss_kib=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
max() { printf '%s\n' "$@" | sort -g | tail -n 1; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }

import_s=() import_rss=() read_s=() copy_s=()
for run in $(seq "$runs"); do
  cp "$work/journal_de_bord.txt" "$work/run.txt"
  sync
  timed awk 'END { print NR }' "$work/run.txt" "$work/wsjtx.adi"
  read_s+=("$seconds")
  timed dd if="$work/run.txt" of="$work/copy.txt" bs=1M conv=fsync status=none
  copy_s+=("$seconds")
  rm -f "$work/copy.txt"
  timed "$build/velkrin-adif" --importe "$work/wsjtx.adi" "$work/run.txt"
  import_s+=("$seconds") import_rss+=("$rss_kib")
  grep -q '^90000 QSO importes, 10000 doublons ignores, 0 enregistrement signale' \
    "$work/err.txt" || { cat "$work/err.txt" >&2; echo "bench: wrong import" >&2; exit 1; }
  [ "$(wc -l <"$work/run.txt")" -eq 1090006 ] || { echo "bench: wrong logbook" >&2; exit 1; }
  echo "   run $run: import ${import_s[-1]} s, awk ${read_s[-1]} s, dd ${copy_s[-1]} s" >&2
done

echo
echo "Velkrin import bench, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores," \
  "$(df --output=fstype "$work" | tail -n 1) file system, median of $runs runs"
echo "logbook $((logbook_bytes / 1000000)) MB (1,000,000 QSOs), ADIF $((adif_bytes / 1000000)) MB" \
  "(100,000 records, 10,000 of them duplicates)"
echo
echo "| measure | velkrin-adif --importe | reference | target |"
echo "| --- | ---: | ---: | ---: |"
echo "| time | $(median "${import_s[@]}") s | awk reads both $(median "${read_s[@]}") s," \
  "dd copies the logbook with fsync $(median "${copy_s[@]}") s | <= 2 s |"
echo "| peak memory | $(mib "$(max "${import_rss[@]}")") | | <= 64 MiB |"
