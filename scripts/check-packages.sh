#!/usr/bin/env bash
# Checks the documents and builds and checks the two packages. Run by
# scripts/check.sh once it has built build-check/ (native) and
# build-windows/ (MinGW-w64); can be run again alone after it.
#
# - the manual pages: `man --warnings` writes nothing on standard error, and
#   every option of each program's --help is in its page;
# - docs/guide.html is what scripts/guide-html.py makes of docs/guide.md;
# - the .deb (CPack, from build-check/) and the ZIP (CPack, from
#   build-windows/) land in build-packages/ under their release names, hold
#   exactly the expected files, and their programs run: the .deb unpacked in
#   a scratch folder, the ZIP's programs under Wine.
#
# velkrin-journal is expected in both packages once its sources
# (src/journal/) are in the tree. The country file of Debian's
# hamradio-files (which the .deb recommends) must be in the ZIP, beside the
# programs, with its licence notice, and both packages' velkrin-adif must
# find theirs: the ZIP's beside it, the .deb's in /usr/share/hamradio-files.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

fail() {
  echo "== package check failed: $*" >&2
  exit 1
}

# Tools: man (man-db), dpkg-shlibdeps for the .deb's computed dependencies
# (dpkg-dev), unzip, and Python-Markdown for the HTML guide. Debian's own
# Python runs the guide script: another python3 first in PATH would not see
# the Debian package.
tools=()
command -v man >/dev/null || tools+=(man-db)
command -v dpkg-shlibdeps >/dev/null || tools+=(dpkg-dev)
command -v unzip >/dev/null || tools+=(unzip)
/usr/bin/python3 -c 'import markdown' 2>/dev/null || tools+=(python3-markdown)
country_file=/usr/share/hamradio-files/cty.csv
[ -e "$country_file" ] || tools+=(hamradio-files)
if [ ${#tools[@]} -gt 0 ]; then
  echo "== installing ${tools[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${tools[@]}"
fi

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$root/build-check/CMakeCache.txt")
[ -n "$version" ] || fail "no version in build-check/CMakeCache.txt (run scripts/check.sh first)"
programs=(velkrin velkrin-adif)
[ -d "$root/src/journal" ] && programs+=(velkrin-journal)

scratch=$(mktemp -d "${TMPDIR:-/tmp}/velkrin-packages.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

echo "== the HTML guide matches docs/guide.md"
/usr/bin/python3 "$root/scripts/guide-html.py" "$scratch/guide.html"
if ! cmp -s "$scratch/guide.html" "$root/docs/guide.html"; then
  diff -u "$root/docs/guide.html" "$scratch/guide.html" | head -n 40 || true
  fail "docs/guide.html is out of date: run python3 scripts/guide-html.py and commit it"
fi

echo "== packages"
packages=$root/build-packages
rm -rf "$packages"
cpack --config "$root/build-check/CPackConfig.cmake" -B "$packages" >/dev/null
cpack --config "$root/build-windows/CPackConfig.cmake" -B "$packages" >/dev/null
deb=$packages/velkrin_${version}_amd64.deb
zip=$packages/velkrin-${version}-windows-x64.zip
[ -f "$deb" ] || fail "no $deb"
[ -f "$zip" ] || fail "no $zip"

# Exactly the expected files, in both (sorted lists compared).
expect_files() {  # what, expected list, actual list
  if [ "$2" != "$3" ]; then
    diff <(echo "$2") <(echo "$3") || true
    fail "$1 does not hold the expected files (< expected, > found)"
  fi
}
expected=$(
  for program in "${programs[@]}"; do
    echo "./usr/bin/$program"
    echo "./usr/share/man/man1/$program.1.gz"
  done
  printf './usr/share/doc/velkrin/%s\n' changelog.gz copyright guide.html
)
expect_files "$(basename "$deb")" "$(sort <<<"$expected")" \
  "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)"
top=velkrin-${version}-windows-x64
expected=$(
  for program in "${programs[@]}"; do echo "$top/$program.exe"; done
  printf "$top/%s\n" guide.html LISEZMOI.txt LICENCE.txt cty.csv cty.csv.LICENCE.txt
)
expect_files "$(basename "$zip")" "$(sort <<<"$expected")" \
  "$(unzip -Z1 "$zip" | grep -v '/$' | sort)"

# The control fields: the project as maintainer, computed dependencies that
# Ubuntu 22.04 (glibc 2.35, libstdc++ from GCC 12) and Debian 12 satisfy.
dpkg-deb -f "$deb" Package Version Architecture Maintainer Section Depends Recommends Description
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version is not $version"
[ "$(dpkg-deb -f "$deb" Recommends)" = hamradio-files ] || fail "Recommends is not hamradio-files"
depends=$(dpkg-deb -f "$deb" Depends)
minimum() { grep -oE "(^|, )$1 \\(>= [^)]*\\)" <<<"$depends" | sed 's/.*>= //; s/)//'; }
libc=$(minimum libc6)
libstdcxx=$(minimum 'libstdc\+\+6')
[ -n "$libc" ] && [ -n "$libstdcxx" ] || fail "Depends lacks libc6 or libstdc++6: $depends"
dpkg --compare-versions "$libc" le 2.35 || fail "needs libc6 $libc, newer than Ubuntu 22.04's"
dpkg --compare-versions "$libstdcxx" le 12 || fail "needs libstdc++6 $libstdcxx, newer than GCC 12's"

# Runs the suite's programs, found in $1 with suffix $2 (".exe"), through the
# launcher $3 ("" or wine), in the empty folder $4: velkrin shows its menu and
# creates a small logbook, velkrin-adif exports it. $5 is the line end that
# the programs write ("\n" or "\r\n").
run_installed_programs() {
  local bin=$1 suffix=$2 launcher=$3 work=$4 eol=$5
  local run=("$bin/velkrin$suffix")
  [ -n "$launcher" ] && run=("$launcher" "${run[@]}")
  mkdir -p "$work"
  (cd "$work" && "${run[@]}" <<<"0" >menu.txt) || fail "velkrin ended with status $?"
  grep -qF "1 >> Saisir un nouveau QSO." "$work/menu.txt" || fail "no menu from ${run[*]}"
  grep -qF "##  Version $version " "$work/menu.txt" || fail "no version $version in the banner"
  # Menu 4 (continue, call sign and date, confirm), back to the menu, menu 1
  # (one QSO typed on one line, confirm, no other), back, quit.
  (cd "$work" && "${run[@]}" >session.txt <<'EOF'
4
1
F4ABC 01-02-2026
1
0
1
01-02-2026 0905 0930 DL1XYZ Hans 7055 J3E Saint_Malo
1
0
0
0
EOF
  ) || fail "the session in ${run[*]} ended with status $?"
  grep -qF "Votre QSO est valide" "$work/session.txt" || fail "the QSO was not recorded"
  local line
  printf -v line "%-10s   %4d    %-4d      %-9s   %-15s %6d kHz   %-3s    %-25s$eol" \
    01-02-2026 905 930 DL1XYZ Hans 7055 J3E Saint_Malo
  cmp -s <(tail -c ${#line} "$work/journal_de_bord.txt") <(printf '%s' "$line") ||
    fail "the logbook does not end with the QSO line"

  local adif=("$bin/velkrin-adif$suffix")
  [ -n "$launcher" ] && adif=("$launcher" "${adif[@]}")
  (cd "$work" && "${adif[@]}" 2>export.txt) || fail "velkrin-adif ended with status $?"
  grep -qF "<CALL:6>DL1XYZ" "$work/journal_de_bord.adi" || fail "no QSO in the export"
  grep -qF "<PROGRAMVERSION:${#version}>$version" "$work/journal_de_bord.adi" ||
    fail "no version $version in the ADIF header"
  # DL1XYZ's entity, from the country file the program finds by itself.
  grep -qF "<DXCC:3>230 " "$work/journal_de_bord.adi" ||
    fail "no DXCC entity in the export: $(cat "$work/export.txt")"

  local program
  for program in "${programs[@]}"; do
    local it=("$bin/$program$suffix")
    [ -n "$launcher" ] && it=("$launcher" "${it[@]}")
    [ "$program" = velkrin ] && continue  # no options: its arguments are ignored
    "${it[@]}" --version >"$work/version.txt" || fail "$program --version ended with status $?"
    grep -qF "$program $version" "$work/version.txt" || fail "$program --version lacks $version"
    grep -qF "GPL-3.0-or-later" "$work/version.txt" || fail "$program --version lacks the licence"
  done
  if [[ " ${programs[*]} " == *" velkrin-journal "* ]]; then
    local journal=("$bin/velkrin-journal$suffix")
    [ -n "$launcher" ] && journal=("$launcher" "${journal[@]}")
    (cd "$work" && "${journal[@]}" liste >liste.txt) || fail "velkrin-journal liste ended with status $?"
    grep -qF "DL1XYZ" "$work/liste.txt" || fail "velkrin-journal liste does not show the QSO"
  fi
}

echo "== the .deb, unpacked, and its programs"
dpkg-deb -x "$deb" "$scratch/deb"
run_installed_programs "$scratch/deb/usr/bin" "" "" "$scratch/deb-work" $'\n'

echo "== manual pages: man --warnings, and every option of --help in its page"
for page in "$root"/docs/man/*.1 "$scratch"/deb/usr/share/man/man1/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man --warnings on $page: $warnings"
done
for program in "${programs[@]}"; do
  page=$scratch/deb/usr/share/man/man1/$program.1.gz
  zgrep -qF "Velkrin $version" "$page" || fail "$program.1 does not give version $version"
  [ "$program" = velkrin ] && continue  # no options
  helps=("$program --help")
  if [ "$program" = velkrin-journal ]; then
    for command in liste indicatif doublons verifie stats csv fiche complete corrige supprime qsl \
      pays diplomes; do
      helps+=("$program $command --help")
    done
  fi
  # The page's text with roff's escaped hyphens as plain ones.
  text=$(zcat "$page" | sed 's/\\-/-/g')
  for help in "${helps[@]}"; do
    read -ra words <<<"$help"
    words[0]=$scratch/deb/usr/bin/${words[0]}
    options=$("${words[@]}" | grep -oE -- '(^|[][ ,|(])--?[a-zA-Z][a-zA-Z-]*' | sed 's/^[][ ,|(]//' |
      sort -u)
    [ -n "$options" ] || fail "no option found in \`$help\`"
    for option in $options; do
      grep -qE -- "(^|[^a-zA-Z-])$option([^a-zA-Z-]|\$)" <<<"$text" ||
        fail "$option of \`$help\` is not in $program.1"
    done
  done
done

echo "== the ZIP: its text files, and its programs under Wine"
unzip -q "$zip" -d "$scratch/zip"
windows=$scratch/zip/$top
lisezmoi=$windows/LISEZMOI.txt
[ "$(head -c 3 "$lisezmoi" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "LISEZMOI.txt has no BOM"
for text in "$lisezmoi" "$windows/LICENCE.txt" "$windows/cty.csv.LICENCE.txt"; do
  [ "$(grep -c '' "$text")" = "$(grep -c $'\r$' "$text")" ] || fail "$text: not CRLF throughout"
  [ "$(tail -c 2 "$text" | od -An -tx1 | tr -d ' ')" = 0d0a ] || fail "$text: no last line end"
done
iconv -f UTF-8 -t UTF-8 "$lisezmoi" >/dev/null || fail "LISEZMOI.txt is not UTF-8"
# The country file as Debian ships it, and its notice: the copyright of the
# upstream files and the MIT licence.
cmp -s "$windows/cty.csv" "$country_file" || fail "the ZIP's cty.csv is not $country_file"
notice=$(tr -d '\r' <"$windows/cty.csv.LICENCE.txt")
copyright=$(awk '/^Files: \*$/ { f = 1; next } f && /^Copyright: / { sub(/^Copyright: /, ""); print; exit }' \
  /usr/share/doc/hamradio-files/copyright)
[ -n "$copyright" ] && grep -qF "$copyright" <<<"$notice" ||
  fail "cty.csv.LICENCE.txt lacks the copyright \"$copyright\""
grep -qF "Permission is hereby granted, free of charge" <<<"$notice" ||
  fail "cty.csv.LICENCE.txt lacks the MIT licence"
grep -qF "cty.csv.LICENCE.txt" "$lisezmoi" || fail "LISEZMOI.txt does not list cty.csv"
grep -qiF '<meta charset="utf-8">' "$windows/guide.html" || fail "guide.html has no <meta charset>"
(
  source "$root/scripts/wine-prefix.sh"
  start_wine_prefix
  run_installed_programs "$windows" .exe wine "$scratch/zip-work" $'\r\n'
)

echo "== packages checked: $(basename "$deb"), $(basename "$zip") in build-packages/"
