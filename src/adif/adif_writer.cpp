#include "adif/adif_writer.hpp"

#include <algorithm>
#include <charconv>

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
  for (const auto& field : record) {
    char length[24];
    const auto end = std::to_chars(length, length + sizeof length, field.value.size()).ptr;
    text.append("<").append(field.name).append(":").append(length, end);
    text.append(">").append(field.value).append(" ");
  }
  text.append("<EOR>").append(eol);
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
