// velkrin-journal doublons: the QSOs logged more than once (same station,
// band and mode, a chain of starts at most two minutes apart), shown group
// after group.
#include <algorithm>
#include <vector>

#include "journal/commands.hpp"
#include "journal/reading.hpp"

namespace velkrin::journal {

int find_duplicates(const command_context& c) {
  struct keyed_line {
    duplicate_key key;
    std::size_t line;
  };
  std::vector<keyed_line> keys;
  std::optional<std::string> read_failure;
  const auto first_pass = c.open([&](logbook_reader& reader) {
    logbook_item item;
    while (reader.next(item)) {
      if (item.what != logbook_item::kind::qso) continue;
      if (const auto key = duplicate_key_of(item.qso, c.options.user_modes)) {
        keys.push_back({*key, item.line});
      }
    }
    read_failure = reader.failure();
  });
  if (first_pass || read_failure) {
    report_failure(c, first_pass ? *first_pass : *read_failure);
    return kExitFailure;
  }
  std::sort(keys.begin(), keys.end(), [](const keyed_line& a, const keyed_line& b) {
    return a.key != b.key ? a.key < b.key : a.line < b.line;
  });
  // Sorted by station then minute, a chain of pairs within the window is a
  // run of neighbours.
  struct member {
    std::size_t line;
    std::size_t group;
    duplicate_key key;
  };
  std::vector<member> members;
  std::vector<std::size_t> group_first_line;
  for (std::size_t i = 0; i + 1 < keys.size();) {
    std::size_t end = i + 1;
    while (end < keys.size() && within_duplicate_window(keys[end - 1].key, keys[end].key)) ++end;
    if (end - i > 1) {
      std::size_t lowest = keys[i].line;
      for (std::size_t k = i; k < end; ++k) {
        members.push_back({keys[k].line, group_first_line.size(), keys[k].key});
        lowest = std::min(lowest, keys[k].line);
      }
      group_first_line.push_back(lowest);
    }
    i = end;
  }
  keys.clear();
  keys.shrink_to_fit();
  if (members.empty()) {
    c.out.write("Aucun doublon.\n");
    return finish_output(c, kExitSuccess);
  }
  // Groups are numbered in the order of their first line.
  std::vector<std::size_t> order(group_first_line.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return group_first_line[a] < group_first_line[b];
  });
  std::vector<std::size_t> number(order.size());
  for (std::size_t i = 0; i < order.size(); ++i) number[order[i]] = i + 1;
  for (member& m : members) m.group = number[m.group];
  std::sort(members.begin(), members.end(),
            [](const member& a, const member& b) { return a.line < b.line; });

  // The second pass keeps the duplicated lines, then they are written group
  // after group. Each must still be the QSO the first pass saw on its line:
  // a header given by menu 4 in between moves every line, and the rows shown
  // would be other QSOs.
  std::vector<std::pair<std::size_t, kept_qso>> rows;  // group, QSO
  std::size_t next = 0;
  bool moved = false;
  const auto second_pass = c.open([&](logbook_reader& reader) {
    logbook_item item;
    while (next < members.size() && reader.next(item)) {
      if (item.what != logbook_item::kind::qso || item.line != members[next].line) continue;
      if (duplicate_key_of(item.qso, c.options.user_modes) != members[next].key) break;
      rows.push_back({members[next].group, {item.qso, item.line, {}, {}}});
      ++next;
    }
    read_failure = reader.failure();
    moved = !read_failure && next < members.size();
  });
  if (second_pass || read_failure) {
    report_failure(c, second_pass ? *second_pass : *read_failure);
    return kExitFailure;
  }
  if (moved) {
    report_failure(c, "il a change pendant la lecture ; relancez la commande");
    return kExitFailure;
  }
  std::stable_sort(rows.begin(), rows.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  fact_finder finder(c.options.user_modes);
  qso_rows table(c.out, false, true);
  qso_facts facts;
  std::string group;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    finder.find(rows[i].second.qso, facts);
    group = i == 0 || rows[i - 1].first != rows[i].first ? std::to_string(rows[i].first) : "";
    table.add(rows[i].second.qso, facts, rows[i].second.line, group);
  }
  table.finish();
  c.out.write("\n" + plural(order.size(), "groupe") + " de doublons (" +
              std::to_string(rows.size()) + " QSO).\n");
  return finish_output(c, kExitAnswer);
}

}  // namespace velkrin::journal
