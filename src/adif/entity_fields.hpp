// The other station's DXCC entity as the export writes it: DXCC, COUNTRY,
// CQZ, ITUZ and CONT, from the country file (see countries/country_file.hpp),
// each call sign resolved once per run.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "countries/country_file.hpp"

namespace velkrin::adif {

// The five fields, in the order they are written; an empty value is not
// written.
struct entity_fields {
  static constexpr std::array<std::string_view, 5> kNames = {"DXCC", "COUNTRY", "CQZ", "ITUZ",
                                                             "CONT"};
  std::array<std::string, 5> values;
  // Resolved only through France's generic TO or TX prefixes: worth a look.
  bool uncertain = false;

  bool empty() const;
};

// The fields for a call sign, as the file gives them; `details_dxcc` is the
// DXCC that the QSO's details carry (nullptr when none), which wins:
//   - a call that resolves to an entity gets its DXCC number and the name of
//     that DXCC entity (a starred entry such as Sicily gives its parent's,
//     Italy), with the zones and continent of the call's own entry;
//   - /MM and /AM get DXCC 0, ADIF's "no DXCC entity", so that a program
//     reading the export does not count the home prefix's entity; no
//     COUNTRY, and no zones or continent, which are where the ship or
//     aircraft is and which the call does not tell;
//   - with a DXCC in the details, the DXCC field is left to them, and the
//     others are those of the call's entity when it has that number, else
//     those of the file's entity of that number, else none;
//   - a call that resolves to nothing gets nothing.
entity_fields fields_for(const countries::country_data& data, std::string_view call,
                         const std::string* details_dxcc);

// fields_for() with its answers kept by call sign: a logbook holds the same
// calls many times over. `data` must outlive it.
class entity_lookup {
 public:
  explicit entity_lookup(const countries::country_data& data) : data_(data) {}

  // Valid until the next call.
  const entity_fields& fields(std::string_view call, const std::string* details_dxcc);
  // Starts bringing the place of `call` into the processor's cache, for a
  // call to fields() a little later: most of a look-up's time is that wait.
  void prefetch(std::string_view call) const { known_.prefetch(call); }

 private:
  // Call signs to the index of their answer, in one flat array probed
  // linearly: each QSO looks its call up, and a look-up then touches one
  // place in memory where a node-based map touches three, which is most of
  // the time the export spends on entities.
  class call_index {
   public:
    std::optional<std::uint32_t> find(std::string_view call) const;
    void prefetch(std::string_view call) const;
    void add(std::string_view call, std::uint32_t answer);

   private:
    // Most calls: "EA8/F4ABC/P" has 11 characters; a slot is 16 bytes.
    static constexpr std::size_t kInlineCall = 11;
    struct slot {
      char call[kInlineCall];
      std::uint8_t size = 0;  // 0: free
      std::uint32_t answer = 0;
    };
    std::size_t first_slot(std::string_view call) const;
    std::vector<slot> slots_;
    std::size_t used_ = 0;
    // Calls that do not fit a slot (or empty).
    std::unordered_map<std::string, std::uint32_t, countries::string_hash, std::equal_to<>> others_;
  };

  const countries::country_data& data_;
  // Tens of thousands of calls share a few hundred answers.
  std::vector<entity_fields> answers_;
  std::unordered_map<std::string, std::uint32_t> answer_index_;  // by the answer's values
  call_index known_;
  entity_fields uncached_;  // for QSOs whose details carry a DXCC
};

}  // namespace velkrin::adif
