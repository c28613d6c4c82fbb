// Writes the benchmark's logbook to standard output: one header (owner
// F5XYZ), then N QSO lines (default 1,000,000, about 105 MB) in the exact
// format velkrin writes, in date order over 20 years, with 50,000 distinct
// call signs. The same N always gives the same bytes (its own generator, no
// library distribution). F4ABC is worked now and then, in several forms, and
// one QSO in 20,000 is the one before logged again, so that every command
// has something to find.
//
// With --details LOGBOOK, the logbook goes to LOGBOOK instead, and its
// details file beside it ("journal_de_bord.txt" gives
// "journal_de_bord.details.adi") holds one record per QSO key: the key
// fields as the line gives them (CALL in upper case, QSO_DATE, TIME_ON,
// BAND, MODE and SUBMODE of the class, the class itself), then reports,
// locators, a comment (some with accents) and QSL fields, lengths in bytes.
// The logbook's bytes are the same with or without it.
//
//   make_logbook [N] > journal_de_bord.txt
//   make_logbook [N] --details journal_de_bord.txt
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "adif/adif_writer.hpp"
#include "logbook/line_format.hpp"
#include "logbook/qso_rules.hpp"

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

constexpr const char* kPrefixes[] = {"F",  "DL", "G", "EA", "I",  "ON", "PA", "OK", "SP", "HB",
                                     "OE", "K",  "W", "VE", "JA", "VK", "LA", "SM", "OH", "CT"};
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
constexpr band_plan kBands[] = {{1810, 1990},   {3500, 3790},   {7000, 7190},    {10100, 10140},
                                {14000, 14340}, {18068, 18160}, {21000, 21440},  {24890, 24980},
                                {28000, 29000}, {50100, 50500}, {144100, 144400}};
constexpr const char* kClasses[] = {"J3E", "J3E", "J3E", "A1A", "A1A", "FT8", "FT8", "F3E", "RTTY"};
constexpr const char* kNames[] = {"Hans", "Jean",   "Andr\xc3\xa9",     "Maria",
                                  "John", "Pierre", "Fran\xc3\xa7oise", "Luigi",
                                  "Yuki", "-"};
constexpr const char* kPlaces[] = {
    "Paris_15", "Lyon", "Brest", "Chamonix", "Saint-\xc3\x89tienne", "Toulouse_(QRA_JN03)"};

template <typename T, std::size_t N>
const T& pick(const T (&list)[N]) {
  return list[below(static_cast<int>(N))];
}

std::string two(int n) {
  return {static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10)};
}

bool is_leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int days_in(int y, int m) {
  constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && is_leap(y) ? 29 : days[m - 1];
}

constexpr const char* kOwner = "F5XYZ";
constexpr const char* kStartDate = "01-01-2006";

// The details file's own random draws, so that the logbook's bytes do not
// depend on whether it is written.
std::uint64_t details_state = 0xde7a115;
int details_below(int n) {
  std::uint64_t z = (details_state += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return static_cast<int>((z ^ (z >> 31)) % static_cast<std::uint64_t>(n));
}

constexpr const char* kComments[] = {"Tres bon signal",
                                     "QSB, merci pour le QSO",
                                     "73 et a bientot",
                                     "Premi\xc3\xa8re liaison, \xc3\xa9mission tr\xc3\xa8s claire",
                                     "Station portable en for\xc3\xaat",
                                     "Contest",
                                     "QRM fort, report approximatif",
                                     "Antenne \xc3\xa0 l'\xc3\xa9tage, 100 W"};
constexpr const char* kYesNo[] = {"Y", "N", "N", "R"};

void add_field(std::string& out, std::string_view name, std::string_view value) {
  out += velkrin::adif::format_field(name, value);
}

std::string details_header() {
  std::string out = "Details du journal de bord de Velkrin (banc d'essai)\n";
  for (const auto& [name, value] :
       {std::pair<std::string_view, std::string_view>{"ADIF_VER", velkrin::adif::kAdifVersion},
        {"PROGRAMID", velkrin::adif::kProgramId},
        {"PROGRAMVERSION", velkrin::adif::program_version()},
        {"APP_VELKRIN_LOGBOOK_OWNER", kOwner},
        {"APP_VELKRIN_LOGBOOK_START", kStartDate}}) {
    add_field(out, name, value);
    out += '\n';
  }
  return out + "<EOH>\n";
}

// The details record of one line: key fields, then the rest.
void append_details(const velkrin::qso_record& qso, std::string& out) {
  std::string call = qso.indicatif;
  for (char& c : call) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  add_field(out, "CALL", call);
  add_field(out, "QSO_DATE", qso.date.substr(6, 4) + qso.date.substr(3, 2) + qso.date.substr(0, 2));
  add_field(out, "TIME_ON", two(qso.debut / 100) + two(qso.debut % 100));
  add_field(out, "BAND", velkrin::band_of(qso.frequence).value_or(""));
  const auto mode = velkrin::mode_of(qso.mode, qso.frequence, {});
  if (mode) {
    add_field(out, "MODE", mode->mode);
    if (!mode->submode.empty()) add_field(out, "SUBMODE", mode->submode);
  }
  add_field(out, "APP_VELKRIN_CLASS", qso.mode);
  const bool digital = qso.mode == "FT8";
  const bool keyed = qso.mode == "A1A" || qso.mode == "RTTY";
  const auto report = [&] {
    if (digital) return std::to_string(details_below(30) - 24);
    return std::to_string(3 + details_below(3)) + std::to_string(3 + details_below(7)) +
           (keyed ? "9" : "");
  };
  add_field(out, "RST_SENT", report());
  add_field(out, "RST_RCVD", report());
  std::string grid = {
      static_cast<char>('A' + details_below(18)), static_cast<char>('A' + details_below(18)),
      static_cast<char>('0' + details_below(10)), static_cast<char>('0' + details_below(10))};
  if (details_below(2) == 0) {
    grid += static_cast<char>('a' + details_below(24));
    grid += static_cast<char>('a' + details_below(24));
  }
  add_field(out, "GRIDSQUARE", grid);
  add_field(out, "MY_GRIDSQUARE", "JN18eu");
  add_field(out, "COMMENT", kComments[details_below(8)]);
  add_field(out, "QSL_SENT", kYesNo[details_below(4)]);
  add_field(out, "QSL_RCVD", kYesNo[details_below(3)]);
  add_field(out, "LOTW_QSL_SENT", kYesNo[details_below(4)]);
  out += "<EOR>\n";
}

bool write_all(std::FILE* file, std::string& out) {
  const bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
  out.clear();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  long count = 1'000'000;
  const char* logbook_path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--details") == 0 && i + 1 < argc) {
      logbook_path = argv[++i];
    } else {
      count = std::strtol(argv[i], nullptr, 10);
    }
  }
  std::FILE* logbook = stdout;
  std::FILE* details = nullptr;
  std::string details_out;
  if (logbook_path) {
    std::string details_path = logbook_path;
    if (details_path.ends_with(".txt")) details_path.resize(details_path.size() - 4);
    details_path += ".details.adi";
    logbook = std::fopen(logbook_path, "wb");
    details = std::fopen(details_path.c_str(), "wb");
    if (!logbook || !details) {
      std::fprintf(stderr, "make_logbook: cannot write %s or %s\n", logbook_path,
                   details_path.c_str());
      return 1;
    }
    details_out = details_header();
  }
  bool ok = true;
  std::string out = velkrin::format_header({kOwner, kStartDate});
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
    if (n % 20'000 != 12) {
      line = velkrin::format_qso_line(qso);
      if (details) append_details(qso, details_out);
    }  // else logged twice, with the details of the first
    out += line;
    if (out.size() >= (1u << 20)) ok = write_all(logbook, out) && ok;
    if (details_out.size() >= (1u << 20)) ok = write_all(details, details_out) && ok;
  }
  ok = write_all(logbook, out) && ok;
  ok = std::fflush(logbook) == 0 && ok;
  if (details) {
    ok = write_all(details, details_out) && ok;
    ok = std::fclose(details) == 0 && ok;
    if (logbook != stdout) ok = std::fclose(logbook) == 0 && ok;
  }
  return ok ? 0 : 1;
}
