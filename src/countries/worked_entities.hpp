// What has been worked of each DXCC entity: its bands and its mode groups,
// as the DXCC award counts them, so that a QSO can be told to be a new
// entity, a new band or a new mode for its entity.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace velkrin::countries {

// The award's three groups of modes.
enum class mode_group { cw, phone, data };

// The group of an ADIF mode (CW; SSB, AM, FM, DIGITALVOICE; anything else
// named, RTTY, FT8, PSK...), or nothing for an empty or unknown mode.
std::optional<mode_group> mode_group_of(std::string_view adif_mode);
std::string_view mode_group_name(mode_group group);  // "CW", "phonie", "donnees"

struct novelty {
  bool new_entity = false;
  bool new_band = false;  // for an entity already worked
  bool new_mode = false;  // a new mode group, for an entity already worked
};

class worked_entities {
 public:
  // `band` is an ADIF band name ("20m"); empty or unknown bands and modes
  // still count the entity.
  void add(int dxcc, std::string_view band, std::optional<mode_group> group);
  novelty would_be(int dxcc, std::string_view band, std::optional<mode_group> group) const;
  bool worked(int dxcc) const { return entities_.contains(dxcc); }

 private:
  struct worked_so_far {
    std::uint64_t bands = 0;  // one bit per band of the ADIF table
    std::uint8_t groups = 0;  // one bit per mode_group
  };
  std::unordered_map<int, worked_so_far> entities_;
};

}  // namespace velkrin::countries
