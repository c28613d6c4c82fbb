#include "countries/country_file.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace velkrin::countries {
namespace {

std::string country_file_path() {
  const char* given = std::getenv("VELKRIN_COUNTRY_FILE");
  return given != nullptr ? given : "/usr/share/hamradio-files/cty.csv";
}

class CountryFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ifstream in(country_file_path(), std::ios::binary);
    if (!in) GTEST_SKIP() << country_file_path() << " is missing (hamradio-files)";
    std::stringstream text;
    text << in.rdbuf();
    parsed_ = parse_country_file(text.str());
    ASSERT_TRUE(parsed_.data) << parsed_.error;
  }

  const country_data& data() const { return *parsed_.data; }

  // The entity that the file names by this prefix ("EA8", "IT9").
  const country_entity* entity(std::string_view prefix) const {
    for (const auto& entity : data().entities) {
      if (entity.prefix == prefix) return &entity;
    }
    return nullptr;
  }

  parsed_country_file parsed_;
};

TEST_F(CountryFileTest, GivesItsVersion) {
  EXPECT_EQ(data().version.size(), 8u) << data().version;
  EXPECT_FALSE(data().exact_calls.contains("VER" + data().version));
}

// Where each form of a call sign is, by the entity the file gives its
// location prefix.
TEST_F(CountryFileTest, ResolvesCallSignsAsTheFileSays) {
  const struct {
    std::string_view call;
    std::string_view entity;  // empty: no DXCC entity
  } kCalls[] = {
      {"F4ABC", "F"},       {"f4abc", "F"},     {"F4ABC/P", "F"},  {"F4ABC/QRP", "F"},
      {"EA8/F4ABC", "EA8"}, {"TK/F4ABC", "TK"}, {"F/DL1ABC", "F"}, {"DL1ABC/F", "F"},
      {"W6ABC/4", "K"},     {"IT9ABC", "IT9"},  {"FO5ABC", "FO"},  {"FR4ABC", "FR"},
      {"FM5ABC", "FM"},     {"FG4ABC", "FG"},   {"FY5ABC", "FY"},  {"FK8ABC", "FK"},
      {"F4ABC/MM", ""},     {"DL1ABC/AM", ""},
  };
  for (const auto& c : kCalls) {
    const auto found = resolve_call(data(), c.call);
    ASSERT_TRUE(found) << c.call;
    if (c.entity.empty()) {
      EXPECT_TRUE(found->maritime) << c.call;
      EXPECT_EQ(found->entity, nullptr) << c.call;
      continue;
    }
    const country_entity* expected = entity(c.entity);
    ASSERT_NE(expected, nullptr) << c.entity << " is not in the file";
    EXPECT_EQ(found->entity, expected) << c.call << " gives " << found->entity->prefix;
  }
  EXPECT_TRUE(entity("IT9")->starred);
  EXPECT_FALSE(resolve_call(data(), "Q1ABC")) << "no prefix Q";
}

// An exact call of the file wins over its prefix, with its own zones; the
// cache gives the same answers, first time and again, long calls included.
TEST_F(CountryFileTest, ExactCallsComeFirst) {
  ASSERT_FALSE(data().exact_calls.empty());
  call_resolver cache(data());
  for (int round = 0; round < 2; ++round) {
    for (const auto& [call, entry] : data().exact_calls) {
      if (call.find('/') != std::string::npos) continue;
      const auto found = round == 0 ? resolve_call(data(), call) : cache.resolve(call);
      ASSERT_TRUE(found) << call;
      EXPECT_EQ(found->entity, &data().entities[entry.entity]) << call;
      EXPECT_EQ(found->cq, entry.cq) << call;
      EXPECT_EQ(found->itu, entry.itu) << call;
      EXPECT_EQ(cache.resolve(call)->entity, found->entity) << call;
    }
  }
  EXPECT_EQ(cache.resolve("EA8/F4ABCDEFGHIJKLM")->entity,
            resolve_call(data(), "EA8/F4ABC")->entity);
}

TEST(CountryFileFormat, RefusesAMalformedLine) {
  const parsed_country_file parsed = parse_country_file(
      "F,France,227,EU,14,27,46.00,-2.00,-1.0,F TM;\nTK,Corsica,x,EU,15,28,42.00,-9.00,-1.0,TK;\n");
  EXPECT_FALSE(parsed.data);
  EXPECT_EQ(parsed.error.substr(0, 10), "ligne 2 : ");
}

}  // namespace
}  // namespace velkrin::countries
