#include "adif/adif_writer.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "console/text_format.hpp"

#ifndef VELKRIN_VERSION
#define VELKRIN_VERSION "1"
#endif

namespace velkrin::adif {

std::string_view program_version() { return VELKRIN_VERSION; }

std::string format_field(std::string_view name, std::string_view value) {
  std::string field = "<";
  field.append(name).append(":").append(std::to_string(value.size())).append(">").append(value);
  return field;
}

std::string format_adif_header(std::string_view description, std::string_view created,
                               std::string_view eol) {
  std::string first_line(description);
  std::replace_if(
      first_line.begin(), first_line.end(), [](char c) { return c == '<' || c == '>'; }, '?');
  std::string text = first_line;
  text.append(eol);
  text.append(format_field("ADIF_VER", kAdifVersion)).append(eol);
  text.append(format_field("PROGRAMID", kProgramId)).append(eol);
  text.append(format_field("PROGRAMVERSION", program_version())).append(eol);
  text.append(format_field("CREATED_TIMESTAMP", created)).append(eol);
  text.append("<EOH>").append(eol);
  return text;
}

void append_adif_record(const adif_record& record, std::string_view eol, std::string& text) {
  // The record's length first, so that the text grows once per record and
  // each piece is copied in place.
  constexpr std::string_view kEnd = "<EOR>";
  const auto digits = [](std::size_t n) {
    std::size_t count = 1;
    for (; n >= 10; n /= 10) ++count;
    return count;
  };
  std::size_t size = kEnd.size() + eol.size();
  for (const auto& field : record) {
    size += field.name.size() + digits(field.value.size()) + field.value.size() + 4;  // "<:> "
  }
  const std::size_t start = text.size();
  text.resize(start + size);
  char* at = text.data() + start;
  const auto put = [&at](std::string_view piece) {
    std::memcpy(at, piece.data(), piece.size());
    at += piece.size();
  };
  for (const auto& field : record) {
    *at++ = '<';
    put(field.name);
    *at++ = ':';
    at = std::to_chars(at, at + digits(field.value.size()), field.value.size()).ptr;
    *at++ = '>';
    put(field.value);
    *at++ = ' ';
  }
  put(kEnd);
  put(eol);
}

std::string utc_timestamp(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto day = floor<days>(when);
  const year_month_day date{day};
  const hh_mm_ss time{floor<seconds>(when - day)};
  return zero_fill(static_cast<int>(date.year()), 4) +
         zero_fill(static_cast<int>(unsigned{date.month()}), 2) +
         zero_fill(static_cast<int>(unsigned{date.day()}), 2) + " " +
         zero_fill(static_cast<int>(time.hours().count()), 2) +
         zero_fill(static_cast<int>(time.minutes().count()), 2) +
         zero_fill(static_cast<int>(time.seconds().count()), 2);
}

}  // namespace velkrin::adif
