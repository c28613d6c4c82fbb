// What every command of the suite prints for --version: its name and version,
// then the copyright and the licence, in French without accents like the
// programs' other texts.
#pragma once

#include <string>
#include <string_view>

namespace velkrin {

inline std::string version_notice(std::string_view program, std::string_view version) {
  return std::string(program) + " " + std::string(version) +
         "\n"
         "Copyright (C) 2026 les auteurs de Velkrin.\n"
         "Licence GPL-3.0-or-later : GNU GPL version 3 ou toute version ulterieure\n"
         "<https://www.gnu.org/licenses/gpl-3.0.html>.\n"
         "Ce programme est un logiciel libre : vous pouvez le redistribuer et le modifier.\n"
         "Il est fourni SANS AUCUNE GARANTIE, dans la mesure permise par la loi.\n";
}

}  // namespace velkrin
