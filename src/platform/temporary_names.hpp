// The names of temporary files, shared by both sides of the platform layer.
#pragma once

#include <string>
#include <string_view>

namespace velkrin::platform {

// ".journal_de_bord.txt.velkrin-tmp-" for "journal_de_bord.txt".
std::string temporary_name_stem(std::string_view target_name);
// Six letters or digits, different at each call.
std::string temporary_name_suffix();

}  // namespace velkrin::platform
