// The country data alone, for the benchmarks: how long cty.csv takes to
// parse, and what resolving every call of a logbook adds to reading it.
//
//   resolve_calls CTY.CSV LOGBOOK
//
// Prints the median parse time over 21 parses, then the time to read the
// logbook through the shared reader, the same with each QSO's call resolved
// (resolve_call on every call) and with each distinct call resolved once
// (call_resolver, as the commands do), and counts, so that a
// run that resolves wrong shows.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "countries/country_file.hpp"
#include "logbook/logbook_reader.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
  return std::chrono::duration<double>(clock_type::now() - start).count();
}

enum class resolving { none, every_call, each_call_once };

// Reads the logbook and returns the number of QSOs whose call resolved to an
// entity (all QSOs when nothing is resolved).
long read_logbook(const char* path, const velkrin::countries::country_data& data, resolving how) {
  velkrin::file_source source;
  if (!source.open(path, nullptr).ok()) {
    std::fprintf(stderr, "resolve_calls: %s cannot be read\n", path);
    return -1;
  }
  velkrin::logbook_reader reader(source);
  reader.read_values_only();
  velkrin::logbook_item item;
  velkrin::countries::call_resolver cache(data);
  long resolved = 0;
  while (reader.next(item)) {
    if (item.what != velkrin::logbook_item::kind::qso) continue;
    switch (how) {
      case resolving::none:
        ++resolved;
        break;
      case resolving::every_call: {
        const auto found = velkrin::countries::resolve_call(data, item.values.indicatif);
        resolved += found && found->entity != nullptr;
        break;
      }
      case resolving::each_call_once: {
        const auto found = cache.resolve(item.values.indicatif);
        resolved += found && found->entity != nullptr;
        break;
      }
    }
  }
  source.close();
  return resolved;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: resolve_calls CTY.CSV LOGBOOK\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string bytes = text.str();
  std::vector<double> parses;
  velkrin::countries::parsed_country_file parsed;
  for (int k = 0; k < 21; ++k) {
    const auto start = clock_type::now();
    parsed = velkrin::countries::parse_country_file(bytes);
    parses.push_back(seconds_since(start));
  }
  if (!parsed.data) {
    std::fprintf(stderr, "resolve_calls: %s\n", parsed.error.c_str());
    return 2;
  }
  std::sort(parses.begin(), parses.end());
  std::printf("parse cty.csv (%zu bytes, %zu entities): %.1f ms (median of 21)\n", bytes.size(),
              parsed.data->entities.size(), parses[parses.size() / 2] * 1000);
  const struct {
    const char* name;
    resolving how;
  } kRuns[] = {{"read only", resolving::none},
               {"read + resolve every call", resolving::every_call},
               {"read + resolve each call once", resolving::each_call_once}};
  for (const auto& run : kRuns) {
    const auto start = clock_type::now();
    const long count = read_logbook(argv[2], *parsed.data, run.how);
    std::printf("%-32s %6.2f s  (%ld QSOs counted)\n", run.name, seconds_since(start), count);
  }
  return 0;
}
