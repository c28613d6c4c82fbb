#!/usr/bin/env bash
# The country data's benchmark: prints figures, asserts nothing.
#
#   bash bench/countries.sh [N]     N QSO lines in the logbook (default 1000000)
#
# Writes a logbook of N QSOs (bench/make_logbook.cpp), then measures with
# bench/resolve_calls.cpp the parse of cty.csv and what resolving the calls
# adds to reading the logbook; then runs the velkrin-journal commands that
# resolve calls (indicatif, stats --par pays, verifie, which also reads the
# supercheck list when found), beside awk counting the calls' first letters
# and beside stats, which resolves nothing, VELKRIN_BENCH_RUNS rounds
# (default 5): the median time and the largest peak resident memory of each.
# The country file is VELKRIN_COUNTRY_FILE, by default Debian's.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
qsos=${1:-1000000}
runs=${VELKRIN_BENCH_RUNS:-5}
countries=${VELKRIN_COUNTRY_FILE:-/usr/share/hamradio-files/cty.csv}
[ -r "$countries" ] || {
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq hamradio-files
}
source "$root/bench/build.sh"
bench_build velkrin-journal velkrin_countries
"${CXX:-c++}" -std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror -I"$root/src" \
  "$root/bench/resolve_calls.cpp" "$build/src/countries/libvelkrin_countries.a" \
  "$build/src/libvelkrin_core.a" -o "$build/resolve_calls"

work=$(mktemp -d "$build/countries.XXXXXX")
trap 'rm -rf "$work"' EXIT
logbook=$work/journal_de_bord.txt
echo "== writing a logbook of $qsos QSO lines" >&2
"$build/make_logbook" "$qsos" >"$logbook"
bytes=$(stat -c %s "$logbook")

echo
echo "country data bench, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores,"
echo "$qsos QSO lines ($(awk -v b="$bytes" 'BEGIN { printf "%.0f MB", b / 1e6 }')), $countries"
echo
"$build/resolve_calls" "$countries" "$logbook"

journal=$build/velkrin-journal
f=--fichier-pays
# name@@command, standard output to /dev/null.
commands=(
  "awk '{n[substr(\$4, 1, 2)]++}'@@awk {n[substr(\$4,1,2)]++} $logbook"
  "journal stats@@$journal stats $logbook"
  "journal indicatif F4ABC@@$journal indicatif F4ABC $f $countries $logbook"
  "journal stats --par pays@@$journal stats --par pays $f $countries $logbook"
  "journal verifie@@$journal verifie $f $countries $logbook"
  "journal pays@@$journal pays $f $countries $logbook"
  "journal diplomes@@$journal diplomes $f $countries $logbook"
)

bench_rounds

echo
echo "median of $runs rounds"
echo
echo "| command | time | peak memory |"
echo "| --- | ---: | ---: |"
for entry in "${commands[@]}"; do
  name=${entry%%@@*}
  printf '| %s | %s s | %s |\n' "$name" "$(median "${times[$name]}")" \
    "$(awk -v k="$(max "${rss[$name]}")" 'BEGIN { printf "%.1f MiB", k / 1024 }')"
done
