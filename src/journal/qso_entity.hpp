// The DXCC entity of a call, and the one a QSO counts for, for the commands
// that count or check entities (indicatif, stats --par, verifie): the DXCC
// field of the QSO's details when it has one (an import brought it, or
// complete set it) wins over what the country file says of its call, for
// the commands that read the details.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "countries/country_file.hpp"
#include "logbook/details_file.hpp"

namespace velkrin::journal {

struct qso_entity {
  // The ADIF DXCC number; 0 for none (/MM, /AM, a call the file does not
  // know, or DXCC 0 in the details).
  int dxcc = 0;
  // The file's entity; nullptr for none, or for a number of the details that
  // the file lacks (a deleted entity).
  const countries::country_entity* entity = nullptr;
  std::string_view continent;  // empty when unknown
  int cq = 0;
  int itu = 0;
  bool maritime = false;   // /MM or /AM
  bool uncertain = false;  // through France's generic TO or TX
};

// Resolves each distinct call once (call_resolver); the country data must
// outlive it.
class entity_finder {
 public:
  explicit entity_finder(const countries::country_data& data);

  // The entity of a call as the file says.
  qso_entity of_call(std::string_view call);
  // The entity a QSO counts for: its details' DXCC field when readable,
  // else its call's.
  qso_entity of_qso(std::string_view call, const details_record* details);
  // The entity of that DXCC number (its own line, not a starred one), or
  // nullptr when the file has none.
  const countries::country_entity* numbered(int dxcc) const;

 private:
  countries::call_resolver resolver_;
  std::vector<const countries::country_entity*> by_dxcc_;
};

// The DXCC number a details record gives, or nothing when it has no DXCC
// field or its value is no number.
std::optional<int> details_dxcc(const details_record& details);

// "France (F), DXCC 227, EU, zone CQ 14, zone ITU 27"; a starred entry names
// the entity it counts for: "Sicily (IT9, compte pour Italy), DXCC 248...".
std::string describe_entity(const qso_entity& found, const countries::country_data& data);

}  // namespace velkrin::journal
