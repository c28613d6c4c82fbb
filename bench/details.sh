#!/usr/bin/env bash
# The details file's benchmark: prints figures, asserts nothing but the
# imports' counts.
#
#   bash bench/details.sh
#
# On the logbook of 1,000,000 QSOs of bench/make_logbook.cpp with a details
# record for every QSO (make_logbook --details: key fields, reports,
# locators, a comment, QSL fields), each measure beside a reference of the
# same run that reads or copies the same files:
#   - the details file's size, beside the logbook's;
#   - the export (velkrin-adif -o), beside awk reading both files;
#   - the ADIF reader alone (bench/read_adif.cpp) on the details file,
#     beside awk reading it;
#   - --importe --simulation of the export of the whole logbook, into the
#     logbook itself (every record a duplicate) and into an empty logbook
#     (every record added);
#   - --importe of the export of the QSOs of the last days (about 100,000)
#     into a copy of the logbook cut before them (about 900,000 QSOs, with
#     their details), beside awk reading both and a flushed copy of both;
#   - --confirmations of a LoTW report of the same QSOs of the last days
#     (about 100,000 confirmations, made from their export) applied to a copy
#     of the whole logbook and its details, beside a flushed copy of both;
#   - --nouveaux lotw on the whole logbook (every QSO new), and on a copy
#     where every QSO before the last days is marked sent (about 100,000
#     new), then --marque-envoye lotw of that file on a copy, beside the
#     export;
#   - velkrin-journal fiche, complete, corrige and supprime of line 500,000,
#     beside awk reading both files and a flushed copy of both ("n/a" for a
#     command that fails, as one that this velkrin-journal does not have).
# Each time is a whole process, the median of VELKRIN_BENCH_RUNS runs
# (default 3); the memory is the largest peak resident set. Builds in
# build-bench/; the generated logbook is kept in build-bench/details-cache/
# (made again when make_logbook.cpp changes), the rest in a temporary folder
# removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=${VELKRIN_BENCH_RUNS:-3}
qsos=1000000
line=500000
source "$root/bench/build.sh"
bench_build velkrin-adif velkrin-journal
"${CXX:-c++}" -std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror -I"$root/src" \
  "$root/bench/read_adif.cpp" "$build/src/libvelkrin_core.a" -o "$build/read_adif"
adif=$build/velkrin-adif
journal=$build/velkrin-journal

cache=$build/details-cache
stamp=$(cksum <"$root/bench/make_logbook.cpp")
if [ "$(cat "$cache/stamp" 2>/dev/null)" != "$stamp" ]; then
  echo "== writing a logbook of $qsos QSOs and its details file in $cache" >&2
  rm -rf "$cache"
  mkdir -p "$cache"
  "$build/make_logbook" "$qsos" --details "$cache/journal_de_bord.txt"
  echo "$stamp" >"$cache/stamp"
fi
logbook=$cache/journal_de_bord.txt
details=$cache/journal_de_bord.details.adi

work=$(mktemp -d "$build/details.XXXXXX")
trap 'rm -rf "$work"' EXIT

declare -A times rss
# timed NAME FOLDER COMMAND...: runs COMMAND in FOLDER, standard output to
# /dev/null; appends its seconds and peak memory (KiB) to NAME's, or "n/a"
# when it fails. Its standard error is left in $work/err.txt.
timed() {
  local name=$1 folder=$2
  shift 2
  local start end
  start=$(date +%s%N)
  if (cd "$folder" && /usr/bin/time -f '%M' -o "$work/time.txt" "$@" >/dev/null 2>"$work/err.txt"); then
    end=$(date +%s%N)
    times[$name]+="$(awk -v d=$((end - start)) 'BEGIN { printf "%.3f", d / 1e9 }') "
    rss[$name]+="$(tail -n 1 "$work/time.txt") "
  else
    times[$name]+="n/a "
    rss[$name]+="n/a "
  fi
}
# median NAME, largest NAME: "n/a" when any run failed.
median() {
  case " ${times[$1]}" in *" n/a "*) echo n/a; return ;; esac
  printf '%s\n' ${times[$1]} | sort -g | awk '{ v[NR] = $1 } END { printf "%s s", v[int((NR + 1) / 2)] }'
}
largest() {
  case " ${rss[$1]}" in *" n/a "*) echo n/a; return ;; esac
  printf '%s\n' ${rss[$1]} | sort -g | tail -n 1 | awk '{ printf "%.1f MiB", $1 / 1024 }'
}
fail() {
  echo "bench: $*" >&2
  exit 1
}
# A copy of the cached logbook and its details in FOLDER, as velkrin names them.
fresh_copy() {
  rm -rf "$1"
  mkdir -p "$1"
  cp "$logbook" "$1/journal_de_bord.txt"
  cp "$details" "$1/journal_de_bord.details.adi"
}

# The logbook cut at a day's start, so that about 100,000 QSOs come after.
header_lines=6
cut_date=$(awk -v n=$((header_lines + qsos - 100000)) 'NR == n { print $1; exit }' "$logbook")
cut_key=$(echo "$cut_date" | awk -F- '{ print $3 $2 $1 }')
mkdir "$work/cut"
awk -v day="$cut_date" 'NR > 6 && $1 == day { exit } { print }' "$logbook" \
  >"$work/cut/journal_de_bord.txt"
# Details records are one a line, in the logbook's order; the header is kept.
awk -v day="$cut_key" 'match($0, /<QSO_DATE:8>[0-9]+/) && substr($0, RSTART + 12, 8) >= day { exit }
  { print }' "$details" >"$work/cut/journal_de_bord.details.adi"
cut_qsos=$(($(wc -l <"$work/cut/journal_de_bord.txt") - header_lines))
head -n "$header_lines" "$logbook" >"$work/empty.txt"
echo "== exporting the QSOs from $cut_date on" >&2
"$adif" --du "$cut_date" --force -o "$work/last_days.adi" "$logbook" 2>/dev/null
last_records=$(grep -c -i '<eor>' "$work/last_days.adi")
# A LoTW report of those QSOs: its header, then each exported record with
# LoTW's confirmation fields (the card's own QSL_RCVD taken out first).
{
  printf 'ARRL Logbook of the World Status Report\nGenerated by bench/details.sh\n\n'
  printf '<PROGRAMID:4>LoTW\n<APP_LoTW_NUMREC:6>%s\n<eoh>\n' "$last_records"
  sed -n '/<[Ee][Oo][Hh]>/,$p' "$work/last_days.adi" | tail -n +2 |
    sed -e 's/<QSL_RCVD:1>[A-Za-z]//' -e 's/<[Ee][Oo][Rr]>/<QSL_RCVD:1>Y<QSLRDATE:8>20270102<APP_LoTW_RXQSL:19>2027-01-02 10:00:00<DXCC:3>291<EOR>/'
} >"$work/lotwreport.adi"
# Every QSO before the last days sent to LoTW.
echo "== marking the QSOs before $cut_date as sent to LoTW" >&2
fresh_copy "$work/sent"
before_cut=$(date -u -d "$cut_key -1 day" +%d-%m-%Y)
"$adif" --nouveaux lotw --au "$before_cut" -o "$work/sent_before.adi" \
  "$work/sent/journal_de_bord.txt" 2>/dev/null
"$adif" --marque-envoye lotw "$work/sent_before.adi" "$work/sent/journal_de_bord.txt" \
  2>"$work/err.txt" || {
  cat "$work/err.txt" >&2
  fail "wrong marking"
}
sync

for run in $(seq "$runs"); do
  timed "awk reads both" "$work" awk 'END { print NR }' "$logbook" "$details"
  timed "export" "$work" "$adif" --force -o "$work/export.adi" "$logbook"
  timed "reader alone" "$work" "$build/read_adif" "$details"
  timed "awk reads the details" "$work" awk 'END { print NR }' "$details"
  timed "awk reads the export" "$work" awk 'END { print NR }' "$work/export.adi"
  timed "simulation, duplicates" "$work" "$adif" --importe "$work/export.adi" --simulation "$logbook"
  timed "simulation, added" "$work" "$adif" --importe "$work/export.adi" --simulation "$work/empty.txt"

  timed "awk reads the cut logbook and the ADIF" "$work" awk 'END { print NR }' \
    "$work/cut/journal_de_bord.txt" "$work/last_days.adi"
  timed "copy of the cut logbook and its details, flushed" "$work" sh -c \
    'cp cut/journal_de_bord.txt copy.txt && cp cut/journal_de_bord.details.adi copy.adi &&
     sync copy.txt copy.adi'
  rm -rf "$work/copy.txt" "$work/copy.adi" "$work/import"
  mkdir "$work/import"
  cp "$work/cut/journal_de_bord.txt" "$work/import/journal_de_bord.txt"
  cp "$work/cut/journal_de_bord.details.adi" "$work/import/journal_de_bord.details.adi"
  sync
  timed "import" "$work/import" "$adif" --importe "$work/last_days.adi"
  grep -q " 0 enregistrement signale" "$work/err.txt" || {
    cat "$work/err.txt" >&2
    fail "wrong import"
  }
  import_summary=$(tail -n 1 "$work/err.txt")

  timed "awk finds line $line, reads both" "$work" awk -v n="$line" 'FNR == n { print } END { print NR }' \
    "$logbook" "$details"
  timed "copy of both, flushed" "$work" sh -c "cp '$logbook' copy.txt && cp '$details' copy.adi &&
    sync copy.txt copy.adi"
  rm -f "$work/copy.txt" "$work/copy.adi"
  timed "fiche" "$cache" "$journal" fiche "$line"
  fresh_copy "$work/confirm"
  sync
  timed "confirmations" "$work/confirm" "$adif" --confirmations "$work/lotwreport.adi"
  grep -q " 0 sans QSO" "$work/err.txt" || {
    cat "$work/err.txt" >&2
    fail "wrong confirmations"
  }
  confirm_summary=$(grep "^LoTW : " "$work/err.txt")
  timed "nouveaux, all" "$work" "$adif" --nouveaux lotw --force -o "$work/new_all.adi" "$logbook"
  timed "nouveaux" "$work" "$adif" --nouveaux lotw --force -o "$work/new.adi" \
    "$work/sent/journal_de_bord.txt"
  new_summary=$(grep "exporte" "$work/err.txt")
  rm -rf "$work/mark"
  cp -r "$work/sent" "$work/mark"
  sync
  timed "marque-envoye" "$work/mark" "$adif" --marque-envoye lotw "$work/new.adi"
  mark_summary=$(grep "^LoTW : " "$work/err.txt")
  for command in "complete $line COMMENT=x" "corrige $line prenom=Paul" "supprime $line"; do
    fresh_copy "$work/edit"
    sync
    # Words split on blanks: the commands above hold none inside a word.
    # shellcheck disable=SC2086
    timed "${command%% *}" "$work/edit" "$journal" $command
  done
  echo "   run $run done" >&2
done

mb() { awk -v b="$1" 'BEGIN { printf "%.1f MB", b / 1e6 }'; }
logbook_bytes=$(stat -c %s "$logbook")
details_bytes=$(stat -c %s "$details")
details_records=$(grep -c -i '<eor>' "$details")
row() { # NAME REFERENCE... : one line of the table
  local name=$1 label=$2 target=$3
  shift 3
  local reference=""
  for ref in "$@"; do reference+="${reference:+, }$ref $(median "$ref")"; done
  echo "| $label | $(median "$name") | $(largest "$name") | $reference | $target |"
}

echo
echo "Velkrin details bench, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores," \
  "$(df --output=fstype "$work" | tail -n 1) file system, median of $runs runs"
echo "logbook $(mb "$logbook_bytes") ($qsos QSOs); details file $(mb "$details_bytes")" \
  "($details_records records, $((details_bytes / details_records)) bytes each)"
echo "import: $last_records records (the QSOs from $cut_date on) into $cut_qsos QSOs;" \
  "$import_summary"
echo "confirmations: $confirm_summary"
echo "--nouveaux: $new_summary; --marque-envoye: $mark_summary"
echo
echo "| measure | velkrin | peak memory | reference | target |"
echo "| --- | ---: | ---: | --- | ---: |"
row export "export (velkrin-adif -o)" "<= 3 s, 64 MiB" "awk reads both"
row "reader alone" "ADIF reader alone on the details file" "" "awk reads the details"
row "simulation, duplicates" "--importe --simulation of the export, into its logbook" "" \
  "awk reads the export"
row "simulation, added" "--importe --simulation of the export, into an empty logbook" "" \
  "awk reads the export"
row import "--importe of $last_records records" "<= 2.5 s, 64 MiB" \
  "awk reads the cut logbook and the ADIF" "copy of the cut logbook and its details, flushed"
row fiche "velkrin-journal fiche $line" "<= 1 s" "awk finds line $line, reads both"
row confirmations "--confirmations of $last_records LoTW confirmations" "<= 3 s, 64 MiB" \
  "copy of both, flushed"
row "nouveaux, all" "--nouveaux lotw, nothing sent yet" "" "export"
row nouveaux "--nouveaux lotw, the last days new" "<= 3 s" "export"
row marque-envoye "--marque-envoye lotw of the last days" "" "copy of both, flushed"
for command in complete corrige supprime; do
  row "$command" "velkrin-journal $command $line" "<= 3 s" "copy of both, flushed"
done
