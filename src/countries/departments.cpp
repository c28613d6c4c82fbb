#include "countries/departments.hpp"

#include <algorithm>
#include <array>

namespace velkrin::countries {
namespace {

constexpr int kFrance = 227;
constexpr int kCorsica = 214;

constexpr std::array<department, 96> kDepartments{{
    {"01", "Ain"},
    {"02", "Aisne"},
    {"03", "Allier"},
    {"04", "Alpes-de-Haute-Provence"},
    {"05", "Hautes-Alpes"},
    {"06", "Alpes-Maritimes"},
    {"07", "Ardeche"},
    {"08", "Ardennes"},
    {"09", "Ariege"},
    {"10", "Aube"},
    {"11", "Aude"},
    {"12", "Aveyron"},
    {"13", "Bouches-du-Rhone"},
    {"14", "Calvados"},
    {"15", "Cantal"},
    {"16", "Charente"},
    {"17", "Charente-Maritime"},
    {"18", "Cher"},
    {"19", "Correze"},
    {"2A", "Corse-du-Sud"},
    {"2B", "Haute-Corse"},
    {"21", "Cote-d'Or"},
    {"22", "Cotes-d'Armor"},
    {"23", "Creuse"},
    {"24", "Dordogne"},
    {"25", "Doubs"},
    {"26", "Drome"},
    {"27", "Eure"},
    {"28", "Eure-et-Loir"},
    {"29", "Finistere"},
    {"30", "Gard"},
    {"31", "Haute-Garonne"},
    {"32", "Gers"},
    {"33", "Gironde"},
    {"34", "Herault"},
    {"35", "Ille-et-Vilaine"},
    {"36", "Indre"},
    {"37", "Indre-et-Loire"},
    {"38", "Isere"},
    {"39", "Jura"},
    {"40", "Landes"},
    {"41", "Loir-et-Cher"},
    {"42", "Loire"},
    {"43", "Haute-Loire"},
    {"44", "Loire-Atlantique"},
    {"45", "Loiret"},
    {"46", "Lot"},
    {"47", "Lot-et-Garonne"},
    {"48", "Lozere"},
    {"49", "Maine-et-Loire"},
    {"50", "Manche"},
    {"51", "Marne"},
    {"52", "Haute-Marne"},
    {"53", "Mayenne"},
    {"54", "Meurthe-et-Moselle"},
    {"55", "Meuse"},
    {"56", "Morbihan"},
    {"57", "Moselle"},
    {"58", "Nievre"},
    {"59", "Nord"},
    {"60", "Oise"},
    {"61", "Orne"},
    {"62", "Pas-de-Calais"},
    {"63", "Puy-de-Dome"},
    {"64", "Pyrenees-Atlantiques"},
    {"65", "Hautes-Pyrenees"},
    {"66", "Pyrenees-Orientales"},
    {"67", "Bas-Rhin"},
    {"68", "Haut-Rhin"},
    {"69", "Rhone"},
    {"70", "Haute-Saone"},
    {"71", "Saone-et-Loire"},
    {"72", "Sarthe"},
    {"73", "Savoie"},
    {"74", "Haute-Savoie"},
    {"75", "Paris"},
    {"76", "Seine-Maritime"},
    {"77", "Seine-et-Marne"},
    {"78", "Yvelines"},
    {"79", "Deux-Sevres"},
    {"80", "Somme"},
    {"81", "Tarn"},
    {"82", "Tarn-et-Garonne"},
    {"83", "Var"},
    {"84", "Vaucluse"},
    {"85", "Vendee"},
    {"86", "Vienne"},
    {"87", "Haute-Vienne"},
    {"88", "Vosges"},
    {"89", "Yonne"},
    {"90", "Territoire de Belfort"},
    {"91", "Essonne"},
    {"92", "Hauts-de-Seine"},
    {"93", "Seine-Saint-Denis"},
    {"94", "Val-de-Marne"},
    {"95", "Val-d'Oise"},
}};

const department* find(std::string_view code) {
  const auto found = std::find_if(kDepartments.begin(), kDepartments.end(),
                                  [code](const department& d) { return d.code == code; });
  return found == kDepartments.end() ? nullptr : &*found;
}

bool is_corsican(std::string_view code) { return code == "2A" || code == "2B"; }

}  // namespace

std::span<const department> ddfm_departments() { return kDepartments; }

std::optional<std::string> normalise_department(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.size() != 1 && text.size() != 2) return std::nullopt;
  std::string code(text);
  for (char& c : code) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (code.size() == 1) code.insert(code.begin(), '0');
  if (find(code) == nullptr) return std::nullopt;
  return code;
}

std::optional<std::string_view> department_name(std::string_view code) {
  const auto normal = normalise_department(code);
  if (!normal) return std::nullopt;
  return find(*normal)->name;
}

bool carries_departments(int dxcc) { return dxcc == kFrance || dxcc == kCorsica; }

std::optional<std::string> department_of(int dxcc, std::string_view state) {
  if (!carries_departments(dxcc)) return std::nullopt;
  auto code = normalise_department(state);
  if (!code || is_corsican(*code) != (dxcc == kCorsica)) return std::nullopt;
  return code;
}

}  // namespace velkrin::countries
