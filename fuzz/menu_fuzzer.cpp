// libFuzzer target over the whole program: each input is standard input to
// one run of the menu loop, in a fresh folder, with the screens kept in
// memory. After the run it checks what a user may rely on whatever they
// type: the run ends when the input ends (a hang is caught by -timeout), the
// exit status is 0 or 1, and the logbook is either absent or one header block
// followed only by fixed-width QSO lines. Any breach traps, so that libFuzzer
// records the input.
#include <stdlib.h>

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.hpp"
#include "dialogue/menu.hpp"
#include "dialogue/outcome.hpp"
#include "logbook/line_format.hpp"
#include "logbook/logbook_file.hpp"
#include "logbook/records.hpp"

namespace velkrin {
namespace {

constexpr std::size_t kQsoTokenCount = 9;

[[noreturn]] void violation() { __builtin_trap(); }

void require(bool holds) {
  if (!holds) violation();
}

// A fresh folder for one input, removed with everything in it.
class scratch_folder {
 public:
  scratch_folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velkrin-fuzz-XXXXXX").string();
    require(::mkdtemp(pattern.data()) != nullptr);
    path_ = pattern;
  }
  ~scratch_folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  scratch_folder(const scratch_folder&) = delete;
  scratch_folder& operator=(const scratch_folder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

bool parse_int32(std::string_view text, std::int32_t& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && stop == end;
}

bool is_white_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The blank-separated tokens of a line; false when it holds any other white
// space.
bool split_on_blanks(std::string_view line, std::vector<std::string_view>& tokens) {
  tokens.clear();
  std::size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ') {
      ++i;
      continue;
    }
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ') {
      if (is_white_space(line[i])) return false;
      ++i;
    }
    tokens.push_back(line.substr(start, i - start));
  }
  return true;
}

// Where each value of a QSO line starts while all of them fit their columns:
// left-aligned values at their column, right-aligned ones ending at theirs.
// Independent of the formatter, so that a fault shared by the program and
// the round trip below still shows.
struct column {
  std::size_t start;
  std::size_t width;
  bool right_aligned;
};
constexpr column kColumns[kQsoTokenCount] = {
    {0, 10, false}, {13, 4, true},  {21, 4, false}, {31, 9, false},  {43, 15, false},
    {59, 6, true},  {66, 3, false}, {72, 3, false}, {79, 25, false},
};
constexpr std::size_t kQsoLineWidth = 104;

void check_columns(std::string_view line, const std::vector<std::string_view>& tokens) {
  for (std::size_t i = 0; i < kQsoTokenCount; ++i) {
    if (tokens[i].size() > kColumns[i].width) return;  // a wide value shifts the rest
  }
  require(line.size() == kQsoLineWidth);
  std::string rebuilt(kQsoLineWidth, ' ');
  for (std::size_t i = 0; i < kQsoTokenCount; ++i) {
    const column& c = kColumns[i];
    const std::size_t at = c.right_aligned ? c.start + c.width - tokens[i].size() : c.start;
    rebuilt.replace(at, tokens[i].size(), tokens[i]);
  }
  require(line == rebuilt);
}

// A QSO line holds nine tokens (the eight values and "kHz"), and writing the
// record they make gives back exactly the same bytes.
void check_qso_line(std::string_view line) {
  std::vector<std::string_view> tokens;
  require(split_on_blanks(line, tokens));
  require(tokens.size() == kQsoTokenCount);
  require(tokens[6] == "kHz");
  qso_record qso;
  qso.date = tokens[0];
  require(parse_int32(tokens[1], qso.debut));
  require(parse_int32(tokens[2], qso.fin));
  qso.indicatif = tokens[3];
  qso.prenom = tokens[4];
  require(parse_int32(tokens[5], qso.frequence));
  qso.mode = tokens[7];
  qso.lieu = tokens[8];
  std::string expected(line);
  expected += '\n';
  require(format_qso_line(qso) == expected);
  check_columns(line, tokens);
}

void check_logbook(const std::filesystem::path& folder, const std::filesystem::path& path) {
  // Nothing but the logbook may be left behind (no temporary file).
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    require(entry.path() == path);
  }
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return;
  require(std::filesystem::is_regular_file(path));

  std::ifstream file(path, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  require(!file.bad());

  const auto header = find_header(text);
  require(header.has_value());
  // The folder is fresh, so the program chose the line end itself.
  require(header->eol == "\n");
  // Every later line must be a QSO line, which no header line can pass for
  // (a typed place may well hold a run of dashes, though).
  std::string_view rest = std::string_view(text).substr(header->length);
  while (!rest.empty()) {
    const auto newline = rest.find('\n');
    require(newline != std::string_view::npos);
    check_qso_line(rest.substr(0, newline));
    rest.remove_prefix(newline + 1);
  }
}

}  // namespace
}  // namespace velkrin

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace velkrin;
  const scratch_folder folder;
  const std::filesystem::path path = folder.path() / std::string(kLogbookFileName);

  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  std::ostringstream out;
  std::ostringstream err;
  console io(in, out, err);
  const int status = run_menu(io, logbook_file{path.string()});

  require(status == kExitSuccess || status == kExitLogbookFailure);
  // Only a failed write has anything to say on the error stream.
  require((status == kExitLogbookFailure) == !err.str().empty());
  check_logbook(folder.path(), path);
  return 0;
}
