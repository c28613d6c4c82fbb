# Sourced by the benchmarks that work on a generated logbook (journal.sh,
# import.sh), from the repository's root with `root` set. bench_build
# TARGET... installs /usr/bin/time when missing, builds the targets in
# build-bench/ (RelWithDebInfo, as the README does) and the logbook
# generator bench/make_logbook.cpp (with the core library, whose formats it
# uses) as build-bench/make_logbook; it sets
# `build` and `jobs`.
bench_build() {
  build=$root/build-bench
  jobs=${VELKRIN_JOBS:-2}
  [ -x /usr/bin/time ] || {
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time
  }
  echo "== building (RelWithDebInfo) in build-bench/" >&2
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKRIN_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j"$jobs" --target velkrin_core "$@" >/dev/null
  "${CXX:-c++}" -std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror -I"$root/src" \
    "$root/bench/make_logbook.cpp" "$build/src/libvelkrin_core.a" -o "$build/make_logbook"
}

# The rounds of journal.sh, countries.sh and export.sh. bench_rounds runs
# each entry of the array `commands` ("name@@command", standard output to
# /dev/null, standard error to $work/err.txt), `runs` rounds, odd rounds in
# order and even rounds backwards so that no command always follows the same
# one; it fills `times`, `cpu` (user and system seconds) and `rss` (peak KiB),
# one value per round, by name. median and max take such a list.
declare -A times cpu rss
timed() {
  local name=$1 command=$2
  # Words split on blanks; the commands of the benchmarks hold none inside
  # a word.
  # shellcheck disable=SC2086
  /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" $command >/dev/null 2>"$work/err.txt" || true
  # The last line: a failing status adds one before it.
  read -r seconds user system kib < <(tail -n 1 "$work/time.txt")
  times[$name]+="$seconds "
  cpu[$name]+="$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.2f", u + s }') "
  rss[$name]+="$kib "
}
median() { printf '%s\n' $1 | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
max() { printf '%s\n' $1 | sort -g | tail -n 1; }
bench_rounds() {
  local run entry i order
  for run in $(seq "$runs"); do
    order=("${commands[@]}")
    if [ $((run % 2)) -eq 0 ]; then
      order=()
      for ((i = ${#commands[@]} - 1; i >= 0; i--)); do order+=("${commands[$i]}"); done
    fi
    for entry in "${order[@]}"; do timed "${entry%%@@*}" "${entry#*@@}"; done
    echo "   round $run done" >&2
  done
}
