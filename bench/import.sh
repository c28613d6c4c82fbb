#!/usr/bin/env bash
# The import's benchmark: prints figures, asserts nothing but correctness.
#
#   bash bench/import.sh
#
# 100,000 ADIF records (in WSJT-X's shape: 90,000 new QSOs and 10,000 that
# the logbook already holds) imported into a logbook of 1,000,000 QSOs
# (bench/make_logbook.cpp, the logbook of velkrin-journal's benchmark:
# about 105 MB, 50,000 distinct call signs over 20 years, in date order). Side by side in the same run, two
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
source "$root/bench/build.sh"
bench_build velkrin-adif
work=$(mktemp -d "$build/import.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "== writing a logbook of 1,000,000 QSOs and an ADIF file of 100,000 records" >&2
"$build/make_logbook" 1000000 >"$work/journal_de_bord.txt"
# The ADIF file: every hundredth QSO of the logbook again (a duplicate), then
# 90,000 new QSOs from 2026 on, 120 a day, with 20,000 call signs of a form
# the logbook does not hold.
awk -v adif="$work/wsjtx.adi" '
function field(name, value) { return "<" name ":" length(value) ">" value " " }
function record(date, hhmm, call, khz, mode) {
  printf "%s%s%s%s%s%s%s%s%s%s%s%s<eor>\n", field("call", call), field("gridsquare", "JN03"),
         field("mode", mode), field("rst_sent", "-10"), field("rst_rcvd", "-12"),
         field("qso_date", date), field("time_on", sprintf("%04d15", hhmm)),
         field("qso_date_off", date), field("time_off", sprintf("%04d45", hhmm)),
         field("freq", sprintf("%.6f", khz / 1000)), field("station_callsign", "F5XYZ"),
         field("my_gridsquare", "JN18") >> adif
}
BEGIN {
  split("J3E A1A F3E RTTY FT8", classes, " "); split("SSB CW FM RTTY FT8", modes, " ")
  for (i in classes) mode_of[classes[i]] = modes[i]
  print "WSJT-X ADIF Export\n<adif_ver:5>3.1.1\n<programid:6>WSJT-X\n<EOH>" > adif
}
NR > 6 && (NR - 6) % 100 == 1 {
  split($1, d, "-")
  record(d[3] d[2] d[1], $2, $4, $6, mode_of[$8])
}
END {
  for (j = 0; j < 90000; j++) {
    day = int(j / 120); m = (j % 120) * 12
    record(sprintf("%04d%02d%02d", 2026 + int(day / 336), 1 + int(day / 28) % 12, 1 + day % 28),
           int(m / 60) * 100 + m % 60, sprintf("ZZ%dNEW", j % 20000), 14074, "FT8")
  }
}' "$work/journal_de_bord.txt"
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
