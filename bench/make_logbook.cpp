// Writes the benchmark's logbook to standard output: one header (owner
// F5XYZ), then N QSO lines (default 1,000,000, about 105 MB) in the exact
// format velkrin writes, in date order over 20 years, with 50,000 distinct
// call signs. The same N always gives the same bytes (its own generator, no
// library distribution). F4ABC is worked now and then, in several forms, and
// one QSO in 20,000 is the one before logged again, so that every command
// has something to find.
//
//   make_logbook [N] > journal_de_bord.txt
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "logbook/line_format.hpp"

namespace {

constexpr int kStations = 50'000;
constexpr int kYears = 20;
constexpr int kFirstYear = 2006;

// splitmix64: small, fast and the same everywhere.
std::uint64_t state = 0x5eed;
std::uint64_t next_random() {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}
int below(int n) { return static_cast<int>(next_random() % static_cast<std::uint64_t>(n)); }

constexpr const char* kPrefixes[] = {"F",  "DL", "G",  "EA", "I",  "ON", "PA", "OK", "SP", "HB",
                                     "OE", "K",  "W",  "VE", "JA", "VK", "LA", "SM", "OH", "CT"};
constexpr int kPrefixCount = sizeof kPrefixes / sizeof *kPrefixes;

// The station of index i: a prefix, a digit and a three-letter suffix, all
// distinct; F4ABC is kept for the QSOs placed on purpose.
std::string station(int i) {
  std::string call = kPrefixes[i % kPrefixCount];
  call += static_cast<char>('0' + (i / kPrefixCount) % 10);
  int rest = i / (kPrefixCount * 10) + 2000;  // from "CYY" on
  std::string suffix(3, 'A');
  for (int k = 2; k >= 0; --k, rest /= 26) suffix[static_cast<std::size_t>(k)] = 'A' + rest % 26;
  return call + suffix;
}

struct band_plan {
  int low_khz;
  int high_khz;
};
constexpr band_plan kBands[] = {{1810, 1990},   {3500, 3790},   {7000, 7190},
                                {10100, 10140}, {14000, 14340}, {18068, 18160},
                                {21000, 21440}, {24890, 24980}, {28000, 29000},
                                {50100, 50500}, {144100, 144400}};
constexpr const char* kClasses[] = {"J3E", "J3E", "J3E", "A1A", "A1A", "FT8", "FT8", "F3E", "RTTY"};
constexpr const char* kNames[] = {"Hans", "Jean", "Andr\xc3\xa9", "Maria", "John", "Pierre",
                                  "Fran\xc3\xa7oise", "Luigi", "Yuki", "-"};
constexpr const char* kPlaces[] = {"Paris_15", "Lyon", "Brest", "Chamonix", "Saint-\xc3\x89tienne",
                                   "Toulouse_(QRA_JN03)"};

template <typename T, std::size_t N>
const T& pick(const T (&list)[N]) {
  return list[below(static_cast<int>(N))];
}

std::string two(int n) { return {static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10)}; }

bool is_leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int days_in(int y, int m) {
  constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && is_leap(y) ? 29 : days[m - 1];
}

}  // namespace

int main(int argc, char** argv) {
  const long count = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1'000'000;
  std::string out = velkrin::format_header({"F5XYZ", "01-01-2006"});
  long total_days = 0;
  for (int y = kFirstYear; y < kFirstYear + kYears; ++y) total_days += is_leap(y) ? 366 : 365;

  int year = kFirstYear, month = 1, day = 1;
  long day_index = 0;
  velkrin::qso_record qso;
  std::string line;
  for (long n = 0; n < count; ++n) {
    // QSO n falls on day n * days / count, at a time rising through the day.
    const long wanted_day = n * total_days / count;
    while (day_index < wanted_day) {
      ++day_index;
      if (++day > days_in(year, month)) {
        day = 1;
        if (++month > 12) month = 1, ++year;
      }
    }
    const long first_of_day = (day_index * count + total_days - 1) / total_days;
    const long per_day = ((day_index + 1) * count + total_days - 1) / total_days - first_of_day;
    const int minute = static_cast<int>((n - first_of_day) * 1440 / (per_day > 0 ? per_day : 1));
    qso.date = two(day) + "-" + two(month) + "-" + std::to_string(year);
    qso.debut = minute / 60 * 100 + minute % 60;
    const int end_minute = (minute + 1 + below(9)) % 1440;
    qso.fin = end_minute / 60 * 100 + end_minute % 60;
    if (n % 40'000 == 7) {
      constexpr const char* kForms[] = {"F4ABC", "F4ABC/P", "f4abc", "EA8/F4ABC", "F4ABC/M"};
      qso.indicatif = kForms[n / 40'000 % 5];
    } else {
      qso.indicatif = station(below(kStations));
    }
    qso.prenom = pick(kNames);
    const band_plan& band = pick(kBands);
    qso.frequence = band.low_khz + below(band.high_khz - band.low_khz + 1);
    qso.mode = pick(kClasses);
    qso.lieu = pick(kPlaces);
    if (n % 20'000 != 12) line = velkrin::format_qso_line(qso);  // else logged twice
    out += line;
    if (out.size() >= (1u << 20)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
