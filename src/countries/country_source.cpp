#include "countries/country_source.hpp"

#include <charconv>

#include "platform/platform.hpp"

namespace velkrin::countries {
namespace {

// Far more than any country file (about 300 KB) or supercheck list (about
// 500 KB): a larger file is neither.
constexpr std::uint64_t kMaxCountryFileBytes = 16 * 1024 * 1024;

std::string folder_of(std::string_view path) {
  const std::size_t end = path.find_last_of(platform::kPathSeparators);
  return end == std::string_view::npos ? std::string() : std::string(path.substr(0, end + 1));
}

// The whole file, or the French reason it cannot be read; `too_large` is
// the reason for a file past the cap.
std::optional<std::string> read_whole(const std::string& path, std::string& text,
                                      std::string_view too_large) {
  platform::shared_file file;
  if (const platform::status s = file.open(path); !s.ok()) return s.reason();
  if (file.is_regular() && file.size_when_locked() > kMaxCountryFileBytes) {
    return std::string(too_large);
  }
  file.unlock();
  text.clear();
  std::string buffer(64 * 1024, '\0');
  for (;;) {
    std::size_t got = 0;
    if (const platform::status s = file.read(buffer.data(), buffer.size(), got); !s.ok()) {
      return s.reason();
    }
    if (got == 0) break;
    text.append(buffer, 0, got);
    if (text.size() > kMaxCountryFileBytes) return std::string(too_large);
  }
  return std::nullopt;
}

int number_of(std::string_view digits) {
  int value = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), value);
  return value;
}

}  // namespace

std::vector<std::string> country_file_candidates(const std::optional<std::string>& given,
                                                 std::string_view logbook,
                                                 std::string_view program_folder) {
  if (given) return {*given};
  std::vector<std::string> places;
  places.push_back(folder_of(logbook) + std::string(kCountryFileName));
  if (!program_folder.empty())
    places.push_back(std::string(program_folder) + std::string(kCountryFileName));
#ifndef _WIN32
  places.emplace_back(kSystemCountryFile);
#endif
  return places;
}

std::vector<std::string> supercheck_candidates(std::string_view logbook,
                                               std::string_view program_folder) {
  std::vector<std::string> places;
  places.push_back(folder_of(logbook) + std::string(kSupercheckFileName));
  if (!program_folder.empty())
    places.push_back(std::string(program_folder) + std::string(kSupercheckFileName));
#ifndef _WIN32
  places.emplace_back(kSystemSupercheckFile);
#endif
  return places;
}

const supercheck_source* country_loader::supercheck() {
  if (supercheck_tried_) return supercheck_ ? &*supercheck_ : nullptr;
  supercheck_tried_ = true;
  for (const std::string& place : supercheck_candidates(logbook_, platform::program_folder())) {
    if (!platform::path_exists(place)) continue;
    std::string text;
    if (const std::optional<std::string> failure =
            read_whole(place, text, "trop grand pour une liste d'indicatifs")) {
      supercheck_problem_ =
          "la liste d'indicatifs actifs " + place + " n'a pas pu etre lue (" + *failure + ")";
      return nullptr;
    }
    supercheck_ = supercheck_source{place, parse_supercheck(text)};
    return &*supercheck_;
  }
  return nullptr;
}

const country_source* country_loader::get() {
  if (tried_) return source_ ? &*source_ : nullptr;
  tried_ = true;
  const std::vector<std::string> places =
      country_file_candidates(given_, logbook_, platform::program_folder());
  for (const std::string& place : places) {
    // Only a file named by --fichier-pays must exist; the usual places are
    // looked at in turn.
    if (!given_ && !platform::path_exists(place)) continue;
    std::string text;
    if (const std::optional<std::string> failure =
            read_whole(place, text, "trop grand pour un fichier des pays")) {
      problem_ = "le fichier des pays " + place + " n'a pas pu etre lu (" + *failure + ")";
      return nullptr;
    }
    parsed_country_file parsed = parse_country_file(text);
    if (!parsed.data) {
      problem_ =
          "le fichier des pays " + place + " n'est pas un cty.csv lisible (" + parsed.error + ")";
      return nullptr;
    }
    source_ = country_source{place, std::move(*parsed.data)};
    return &*source_;
  }
  problem_ = "aucun fichier des pays (cty.csv) trouve";
  std::string_view separator = " : ni ";
  for (const std::string& place : places) {
    problem_.append(separator).append(place);
    separator = ", ni ";
  }
  problem_ += " ; --fichier-pays en nomme un";
  return nullptr;
}

std::string country_loader::stale_note(std::string_view newest_qso) {
  if (stale_said_ || !source_) return {};
  std::string note = stale_data_note(*source_, newest_qso);
  stale_said_ = !note.empty();
  return note;
}

std::string version_date(std::string_view version) {
  if (version.size() != 8) return std::string(version);
  return std::string(version.substr(6, 2)) + "-" + std::string(version.substr(4, 2)) + "-" +
         std::string(version.substr(0, 4));
}

std::string stale_data_note(const country_source& source, std::string_view newest_qso) {
  const std::string& version = source.data.version;
  if (version.size() != 8 || newest_qso.size() != 8) return {};
  // A year later, same month and day: YYYYMMDD compares as a number.
  const int year_after = number_of(version.substr(0, 4)) + 1;
  const std::string limit = std::to_string(year_after) + version.substr(4);
  if (std::string(newest_qso) <= limit) return {};
  return "Note : le fichier des pays " + source.path + " (version du " + version_date(version) +
         ") a plus d'un an de retard sur le QSO le plus recent (" + version_date(newest_qso) +
         ") : les indicatifs attribues depuis peuvent etre rattaches au mauvais pays. Un "
         "fichier a jour (cty.csv) pose a cote du journal est pris en premier.\n";
}

}  // namespace velkrin::countries
