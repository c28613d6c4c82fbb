// The country files that radio amateurs use (cty.csv, published under the
// MIT licence and packaged by Debian as hamradio-files), and the DXCC entity,
// zones and continent of a call sign as they say. Pure functions over the
// file's text and call signs: the caller reads the file.
//
// A line of cty.csv: the entity's prefix ("*" first for an entry that is no
// DXCC entity of its own, such as Sicily), its name, its ADIF DXCC number,
// continent, CQ and ITU zones, latitude, longitude and time offset, then its
// prefixes and exact calls ("=" first) separated by blanks, ended by ";".
// A prefix or exact call may carry its own zones, "(CQ)" and "[ITU]", and
// continent, "{EU}"; "<lat/lon>" and "~offset~" are read and left aside.
// The pseudo exact call "=VER20230502" gives the file's version.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace velkrin::countries {

struct country_entity {
  std::string prefix;     // "F", "TK", "IT9"
  std::string name;       // "France"
  int dxcc = 0;           // the ADIF DXCC number (a starred entry: its parent's)
  std::string continent;  // "EU"
  int cq = 0;
  int itu = 0;
  bool starred = false;  // no DXCC entity of its own (it counts as its parent)
};

// What a prefix or an exact call of the file gives.
struct prefix_entry {
  std::uint32_t entity = 0;  // in country_data::entities
  int cq = 0;                // its own zones and continent, or the entity's
  int itu = 0;
  std::string continent;
};

struct string_hash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const {
    return std::hash<std::string_view>{}(text);
  }
};
using entry_map = std::unordered_map<std::string, prefix_entry, string_hash, std::equal_to<>>;

struct country_data {
  std::vector<country_entity> entities;
  entry_map prefixes;
  entry_map exact_calls;
  std::size_t longest_prefix = 0;
  std::string version;  // "20230502"; empty when the file gives none
};

// The file read, or the French reason it cannot be (with its line).
struct parsed_country_file {
  std::optional<country_data> data;
  std::string error;
};
parsed_country_file parse_country_file(std::string_view text);

struct resolution {
  const country_entity* entity = nullptr;  // nullptr for /MM and /AM
  int cq = 0;
  int itu = 0;
  std::string_view continent;  // in the country_data, which outlives it
  bool maritime = false;       // /MM or /AM: no DXCC entity
  // Resolved only through France's generic TO or TX prefixes, which
  // overseas operations mostly use.
  bool uncertain = false;
};

// The entity of a call sign, as the file says: an exact call first; then,
// for a call with "/", the parts that say nothing of a location (P, M, QRP,
// QRPP, A, LH, R, B) are dropped, a single digit keeps the call's entity, and
// of two parts left the shorter (the first on a tie) is the location; then
// the longest prefix. Nothing when the call resolves to nothing.
std::optional<resolution> resolve_call(const country_data& data, std::string_view call);

// resolve_call with each distinct call resolved once: a logbook names the
// same stations again and again, in no order. Calls of up to 15 characters
// are kept in one flat table (a probe touches one slot, where a node-based
// map would chase pointers on every QSO); longer ones are resolved each
// time. A slot keeps the answer packed into its one cache line: 64 bytes a
// slot, 8 MiB for the 50,000 stations of a big logbook.
class call_resolver {
 public:
  explicit call_resolver(const country_data& data) : data_(&data) {}
  std::optional<resolution> resolve(std::string_view call);
  const country_data& data() const { return *data_; }

 private:
  static constexpr std::size_t kKeyBytes = 15;
  // One cache line: the call, its hash and its answer, packed.
  struct alignas(64) slot {
    std::uint64_t hash = 0;
    const country_entity* entity = nullptr;
    const char* continent = nullptr;
    int cq = 0;
    int itu = 0;
    std::uint32_t continent_length = 0;
    std::uint8_t flags = 0;  // kUsed, kResolved, kMaritime, kUncertain
    std::uint8_t length = 0;
    char key[kKeyBytes] = {};
  };
  static_assert(sizeof(slot) == 64);
  static constexpr std::uint8_t kUsed = 1, kResolved = 2, kMaritime = 4, kUncertain = 8;
  static void pack(const std::optional<resolution>& answer, slot& into);
  static std::optional<resolution> unpack(const slot& from);
  void grow();

  const country_data* data_;
  std::vector<slot> slots_;
  std::size_t used_ = 0;
};

}  // namespace velkrin::countries
