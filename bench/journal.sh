#!/usr/bin/env bash
# velkrin-journal's benchmark: prints figures, asserts nothing.
#
#   bash bench/journal.sh [N]     N QSO lines in the logbook (default 1000000)
#
# Writes a logbook of N QSOs (bench/make_logbook.cpp: about 105 MB for a
# million, 50,000 stations over 20 years, in date order), then runs each
# velkrin-journal command and the awk command it is compared with, side by
# side, VELKRIN_BENCH_RUNS rounds (default 5), taking turns at going first;
# then velkrin-adif on the same file. Prints the median time and the largest
# peak resident memory of each. Builds in build-bench/ (RelWithDebInfo, as
# the README does) and works in a temporary folder inside it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
qsos=${1:-1000000}
runs=${VELKRIN_BENCH_RUNS:-5}
source "$root/bench/build.sh"
bench_build velkrin-journal velkrin-adif

work=$(mktemp -d "$build/journal.XXXXXX")
trap 'rm -rf "$work"' EXIT
logbook=$work/journal_de_bord.txt
echo "== writing a logbook of $qsos QSO lines" >&2
"$build/make_logbook" "$qsos" >"$logbook"
bytes=$(stat -c %s "$logbook")

journal=$build/velkrin-journal
# name@@command, standard output to /dev/null.
commands=(
  "journal indicatif F4ABC@@$journal indicatif F4ABC $logbook"
  "journal liste --indicatif F4ABC@@$journal liste --indicatif F4ABC $logbook"
  "awk '\$4 == \"F4ABC\"'@@awk \$4==\"F4ABC\" $logbook"
  "journal verifie@@$journal verifie $logbook"
  "journal stats@@$journal stats $logbook"
  "awk 'NF != 9 || \$7 != \"kHz\"'@@awk NF!=9||\$7!=\"kHz\" $logbook"
  "awk '{n[\$8]++}'@@awk {n[\$8]++} $logbook"
  "journal doublons@@$journal doublons $logbook"
  "journal liste@@$journal liste $logbook"
  "journal csv@@$journal csv $logbook"
  "velkrin-adif -o FILE@@$build/velkrin-adif --force -o $work/export.adi $logbook"
)

bench_rounds

echo
echo "velkrin-journal bench, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores,"
echo "$qsos QSO lines ($(awk -v b="$bytes" 'BEGIN { printf "%.0f MB", b / 1e6 }')), median of $runs rounds"
echo
echo "| command | time | peak memory |"
echo "| --- | ---: | ---: |"
for entry in "${commands[@]}"; do
  name=${entry%%@@*}
  printf '| %s | %s s | %s |\n' "$name" "$(median "${times[$name]}")" \
    "$(awk -v k="$(max "${rss[$name]}")" 'BEGIN { printf "%.1f MiB", k / 1024 }')"
done
