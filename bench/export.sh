#!/usr/bin/env bash
# The export's benchmark with the DXCC entity fields: prints figures,
# asserts nothing but the counts.
#
#   bash bench/export.sh [N]     N QSO lines in the logbook (default 1000000)
#
# On the logbook of bench/make_logbook.cpp (50,000 distinct call signs over
# 20 years), velkrin-adif -o FILE:
#   - with the five fields (DXCC, COUNTRY, CQZ, ITUZ, CONT), from the country
#     file of hamradio-files (VELKRIN_COUNTRY_FILE names another);
#   - without country data: an empty cty.csv beside the logbook cannot be
#     read, so the export runs exactly as it does when no file is found (no
#     look-up at all), and says so in a note;
#   - with a country file of one entity that no call has: every call is
#     looked up and resolved once, and no field is written;
#   - beside awk reading the logbook, the reference of the other benchmarks.
# VELKRIN_BENCH_RUNS rounds (default 3), taking turns at going first; the
# median elapsed time, the median processor time (user and system: on a
# machine shared with other work, the elapsed time also counts the waits
# for a processor) and the largest peak resident memory of each. Builds in
# build-bench/ and works in a temporary folder inside it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
qsos=${1:-1000000}
runs=${VELKRIN_BENCH_RUNS:-3}
countries=${VELKRIN_COUNTRY_FILE:-/usr/share/hamradio-files/cty.csv}
[ -r "$countries" ] || {
  echo "bench: no country file $countries (apt-get install hamradio-files)" >&2
  exit 1
}
source "$root/bench/build.sh"
bench_build velkrin-adif
adif=$build/velkrin-adif

work=$(mktemp -d "$build/export.XXXXXX")
trap 'rm -rf "$work"' EXIT
logbook=$work/journal_de_bord.txt
echo "== writing a logbook of $qsos QSO lines" >&2
"$build/make_logbook" "$qsos" >"$logbook"
: >"$work/cty.csv"
echo "ZZ9,Test Entity,999,EU,1,1,0.00,0.00,0.0,ZZ9 =VER20991231;" >"$work/one_entity.csv"
entities=$(grep -c '' "$countries")

# name@@command, standard output to /dev/null.
commands=(
  "five fields@@$adif --force --fichier-pays $countries -o $work/five.adi $logbook"
  "no country data@@$adif --force -o $work/none.adi $logbook"
  "one entity@@$adif --force --fichier-pays $work/one_entity.csv -o $work/one.adi $logbook"
  "awk reads the logbook@@awk END{print(NR)} $logbook"
)

bench_rounds

# Every QSO exported each time; the fields in the first export only.
for adi in five none one; do
  [ "$(grep -c '<EOR>' "$work/$adi.adi")" -eq "$qsos" ] || {
    echo "bench: $adi.adi does not hold $qsos QSOs" >&2
    exit 1
  }
done
with_dxcc=$(grep -c '<DXCC:' "$work/five.adi" || true)
[ "$(grep -c '<DXCC:' "$work/none.adi" "$work/one.adi" | awk -F: '{ s += $2 } END { print s }')" -eq 0 ] || {
  echo "bench: DXCC written without country data" >&2
  exit 1
}

five=$(median "${times[five fields]}")
none=$(median "${times[no country data]}")
five_cpu=$(median "${cpu[five fields]}")
none_cpu=$(median "${cpu[no country data]}")
echo
echo "velkrin-adif export bench, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores,"
echo "$qsos QSO lines ($(awk -v b="$(stat -c %s "$logbook")" 'BEGIN { printf "%.0f MB", b / 1e6 }')," \
  "$with_dxcc with DXCC), country file $countries ($entities lines), median of $runs rounds"
echo
echo "| export | time | processor time | peak memory |"
echo "| --- | ---: | ---: | ---: |"
for entry in "${commands[@]}"; do
  name=${entry%%@@*}
  printf '| %s | %s s | %s s | %s |\n' "$name" "$(median "${times[$name]}")" \
    "$(median "${cpu[$name]}")" \
    "$(awk -v k="$(max "${rss[$name]}")" 'BEGIN { printf "%.1f MiB", k / 1024 }')"
done
echo
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo "five fields / no country data: time $(ratio "$five" "$none")," \
  "processor time $(ratio "$five_cpu" "$none_cpu") (target <= 1.5)"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
