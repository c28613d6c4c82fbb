#include "countries/departments.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace velkrin::countries {
namespace {

TEST(DepartmentsTest, ListsTheNinetySixOfMetropolitanFrance) {
  const auto departments = ddfm_departments();
  ASSERT_EQ(departments.size(), 96u);
  std::set<std::string_view> codes;
  for (const auto& d : departments) {
    EXPECT_TRUE(codes.insert(d.code).second) << d.code;
    EXPECT_FALSE(d.name.empty()) << d.code;
    for (const char c : d.name) EXPECT_TRUE(c > 0 && c < 127) << d.name << " has an accent";
  }
  EXPECT_EQ(departments.front().code, "01");
  EXPECT_EQ(departments[19].code, "2A");
  EXPECT_EQ(departments[20].code, "2B");
  EXPECT_EQ(departments.back().code, "95");
  EXPECT_EQ(department_name("2a"), "Corse-du-Sud");
  EXPECT_EQ(department_name("75"), "Paris");
  EXPECT_EQ(department_name("90"), "Territoire de Belfort");
  EXPECT_FALSE(department_name("971"));
}

// STATE values as loggers write them, and what they give for a QSO with
// France (227), Corsica (214) and French Guiana (63). Empty: nothing.
TEST(DepartmentsTest, ReadsTheStateFieldOfEachEntity) {
  const struct {
    std::string_view state;
    std::string_view normal;
    std::string_view france;
    std::string_view corsica;
  } kStates[] = {
      {"01", "01", "01", ""}, {"1", "01", "01", ""},  {" 9 ", "09", "09", ""},
      {"95", "95", "95", ""}, {"2a", "2A", "", "2A"}, {"2B", "2B", "", "2B"},
      {"20", "", "", ""},     {"00", "", "", ""},     {"96", "", "", ""},
      {"971", "", "", ""},    {"", "", "", ""},       {"2C", "", "", ""},
      {"0", "", "", ""},      {"F-75", "", "", ""},   {"7 5", "", "", ""},
  };
  for (const auto& s : kStates) {
    EXPECT_EQ(normalise_department(s.state).value_or(""), s.normal) << '"' << s.state << '"';
    EXPECT_EQ(department_of(227, s.state).value_or(""), s.france) << '"' << s.state << '"';
    EXPECT_EQ(department_of(214, s.state).value_or(""), s.corsica) << '"' << s.state << '"';
    EXPECT_FALSE(department_of(63, s.state)) << '"' << s.state << '"';
  }
  EXPECT_TRUE(carries_departments(227));
  EXPECT_TRUE(carries_departments(214));
  EXPECT_FALSE(carries_departments(453));
}

}  // namespace
}  // namespace velkrin::countries
