#!/usr/bin/env bash
# The live listener's benchmark: prints figures, asserts nothing but
# correctness.
#
#   bash bench/listen.sh [N]     N QSOs sent one at a time (default 200)
#
# velkrin-adif --ecoute on the logbook of 1,000,000 QSOs of
# bench/make_logbook.cpp (105 MB), fed by a sender on the loopback
# interface: first one QSO (the first after the start, which reads the whole
# logbook), then N QSOs one datagram at a time, each sent once the listener
# has said the one before was written, then one datagram of N records (as a
# program that sends a backlog at once would). Each QSO is new, so each is
# checked against the logbook and appended with a flush to disk. Beside it
# in the same run and the same folder, the floor of a durable append
# (bench/durable_append_floor.cpp: open, write one line, fsync, close), N
# times on a copy of the logbook. Builds in build-bench/ and works in a
# temporary folder inside it, removed at the end. Needs python3 for the
# sender.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
count=${1:-200}
source "$root/bench/build.sh"
bench_build velkrin-adif
"${CXX:-c++}" -std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror \
  "$root/bench/durable_append_floor.cpp" -o "$build/durable_append_floor"
work=$(mktemp -d "$build/listen.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "== writing a logbook of 1,000,000 QSOs" >&2
"$build/make_logbook" 1000000 >"$work/journal_de_bord.txt"
cp "$work/journal_de_bord.txt" "$work/floor.txt"
sync

floor_start=$(date +%s%N)
"$build/durable_append_floor" "$work/floor.txt" "$count"
floor_end=$(date +%s%N)
floor_ms=$(awk -v d=$((floor_end - floor_start)) -v n="$count" 'BEGIN { printf "%.2f", d / 1e6 / n }')

echo "== listening" >&2
python3 - "$build/velkrin-adif" "$work/journal_de_bord.txt" "$count" >"$work/figures.txt" <<'EOF'
import socket, statistics, struct, subprocess, sys, time

program, logbook, count = sys.argv[1], sys.argv[2], int(sys.argv[3])

def text(value):
    data = value.encode()
    return struct.pack(">I", len(data)) + data

def record(n):
    # A new station each time, from 2030 on, so that none is a duplicate.
    call = "ZZ%dBEN" % n
    day, minute = divmod(n, 1000)
    fields = [("call", call), ("mode", "FT8"), ("qso_date", "2030%02d%02d" % (1 + day // 28 % 12, 1 + day % 28)),
              ("time_on", "%02d%02d00" % (minute // 60 % 24, minute % 60)), ("freq", "14.074000"),
              ("station_callsign", "F5XYZ"), ("my_gridsquare", "JN18")]
    return "".join("<%s:%d>%s " % (name, len(value), value) for name, value in fields) + "<eor>\n"

def logged_adif(numbers):
    adif = "<adif_ver:5>3.1.1\n<EOH>\n" + "".join(record(n) for n in numbers)
    return struct.pack(">III", 0xADBCCBDA, 3, 12) + text("WSJT-X") + text(adif)

probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
probe.bind(("127.0.0.1", 0))
port = probe.getsockname()[1]
probe.close()
started = time.perf_counter()
listener = subprocess.Popen([program, "--ecoute=127.0.0.1:%d" % port, logbook],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
while "A l'ecoute" not in listener.stderr.readline():
    pass
start_s = time.perf_counter() - started
sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)

def written(numbers):
    for _ in numbers:
        line = listener.stdout.readline()
        if not line.startswith("QSO inscrit"):
            sys.exit("bench: " + line)

first = time.perf_counter()
sender.sendto(logged_adif([0]), ("127.0.0.1", port))
written([0])
first_ms = (time.perf_counter() - first) * 1000
each = []
for n in range(1, count + 1):
    sent = time.perf_counter()
    sender.sendto(logged_adif([n]), ("127.0.0.1", port))
    written([n])
    each.append((time.perf_counter() - sent) * 1000)
batch = list(range(count + 1, 2 * count + 1))
sent = time.perf_counter()
sender.sendto(logged_adif(batch), ("127.0.0.1", port))
written(batch)
batch_ms = (time.perf_counter() - sent) * 1000 / count
listener.send_signal(2)
listener.wait()
print(start_s, first_ms, statistics.median(each), max(each), batch_ms)
EOF
read -r start_s first_ms median_ms max_ms batch_ms <"$work/figures.txt"
lines=$(wc -l <"$work/journal_de_bord.txt")
[ "$lines" -eq $((1000006 + 2 * count + 1)) ] || { echo "bench: wrong logbook ($lines lines)" >&2; exit 1; }

fmt() { awk -v v="$1" -v f="$2" 'BEGIN { printf f, v }'; }
echo
echo "Velkrin listener bench, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores," \
  "$(df --output=fstype "$work" | tail -n 1) file system"
echo "logbook of 1,000,000 QSOs (105 MB); $count QSOs one datagram each, then one datagram of $count"
echo
echo "| measure | velkrin-adif --ecoute | reference | target |"
echo "| --- | ---: | ---: | ---: |"
echo "| start (reads the whole logbook) | $(fmt "$start_s" "%.2f s") | | |"
echo "| first QSO | $(fmt "$first_ms" "%.1f ms") | | |"
echo "| each later QSO, median (max) | $(fmt "$median_ms" "%.1f ms") ($(fmt "$max_ms" "%.1f ms")) |" \
  "durable append floor ${floor_ms} ms | <= 50 ms |"
echo "| each QSO of one datagram of $count | $(fmt "$batch_ms" "%.1f ms") |" \
  "durable append floor ${floor_ms} ms | <= 50 ms |"
