#include "adif/adif_reader.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velkrin::adif {
namespace {

enum class into { new_records, one_reused_record };

// Each record as "#ORDINAL LLINE NAME=value|NAME=value" with " [chars]",
// " [cut]", " {problem}" or " !unreadable!" after it when it says so. Taken
// out with next(), or with next(record&) into one record that each next
// record must wholly replace.
std::vector<std::string> read_all(std::string_view text, std::size_t piece,
                                  into how = into::new_records) {
  adif_reader reader;
  std::vector<std::string> out;
  adif_read_record reused;
  const auto next = [&]() -> const adif_read_record* {
    if (how == into::one_reused_record) return reader.next(reused) ? &reused : nullptr;
    std::optional<adif_read_record> record = reader.next();
    if (!record) return nullptr;
    reused = std::move(*record);
    return &reused;
  };
  const auto take = [&] {
    while (const adif_read_record* record = next()) {
      std::string shown =
          "#" + std::to_string(record->ordinal) + " L" + std::to_string(record->line) + " ";
      for (std::size_t i = 0; i < record->fields.size(); ++i) {
        shown += (i ? "|" : "") + record->fields[i].name + "=" + record->fields[i].value;
      }
      if (record->characters_counted) shown += " [chars]";
      if (!record->complete) shown += " [cut]";
      if (!record->problem.empty()) shown += " {" + record->problem + "}";
      if (!record->unreadable.empty()) shown += " !" + record->unreadable + "!";
      out.push_back(shown);
    }
  };
  for (std::size_t at = 0; at < text.size(); at += piece) {
    reader.feed(text.substr(at, piece));
    take();
  }
  reader.finish();
  take();
  return out;
}

TEST(AdifReaderTest, ReadsTheFilesFoundInTheWild) {
  using list = std::vector<std::string>;
  const struct {
    std::string_view name, text;
    list expected;
  } cases[] = {
      {"header, then records",
       "Export\n<ADIF_VER:5>3.1.4 <PROGRAMID:3>XYZ\n<EOH>\n"
       "<CALL:5>F4ABC <MODE:3>FT8 <EOR>\n<CALL:4>W1AW<MODE:2>CW<EOR>\n",
       {"#1 L4 CALL=F4ABC|MODE=FT8", "#2 L5 CALL=W1AW|MODE=CW"}},
      {"any case, type indicators, CR LF, no header",
       "<call:5:s>F4ABC<Freq:6:N>14.074<eor>\r\n<CALL:4>W1AW<eOr>\r\n",
       {"#1 L1 CALL=F4ABC|FREQ=14.074", "#2 L2 CALL=W1AW"}},
      {"free text, stray '<' and unknown tags between fields",
       "<CALL:5>F4ABC a < b <BR> note <x:y> <MODE:3>SSB <EOR>",
       {"#1 L1 CALL=F4ABC|MODE=SSB"}},
      {"application and user-defined fields kept",
       "<APP_WSJTX_X:2>ok<USERDEF1:3>abc<EOR>",
       {"#1 L1 APP_WSJTX_X=ok|USERDEF1=abc"}},
      {"a value read by its length, whatever tags it holds",
       "<COMMENT:14>a<EOH>b <x:1>y<CALL:2>K1<EOR>",
       {"#1 L1 COMMENT=a<EOH>b <x:1>y|CALL=K1"}},
      {"a length over the record's end swallows no record",
       "<COMMENT:30>a< eor>\n<CALL:2>K1<EOR>\n<CALL:2>K2<EOR>\n",
       {"#1 L1  !champ COMMENT annonce 30 octets, au-dela de la fin de son enregistrement!",
        "#2 L2 CALL=K1", "#3 L3 CALL=K2"}},
      {"empty records and a zero length",
       "<EOR><eor><NAME:0><CALL:2>K1<EOR>",
       {"#1 L1 NAME=|CALL=K1"}},
      {"last record without <EOR>",
       "<CALL:2>K1<EOR>\n<CALL:2>K2<MODE:2>CW\n",
       {"#1 L1 CALL=K1", "#2 L2 CALL=K2|MODE=CW [cut]"}},
      {"file ends inside a value",
       "<CALL:9>K1",
       {"#1 L1  [cut] !champ CALL annonce 9 octets, au-dela de la fin du fichier!"}},
      {"a length past the end swallows no record",
       "<COMMENT:99>a<CALL:2>K1<EOR>\n<CALL:2>K2<EOR>",
       {"#1 L1 CALL=K1 !champ COMMENT annonce 99 octets, au-dela de la fin du fichier!",
        "#2 L2 CALL=K2"}},
      {"bytes counted, accents",
       "<NAME:6>Andr\xc3\xa9<CALL:2>K1<EOR>",
       {"#1 L1 NAME=Andr\xc3\xa9|CALL=K1"}},
      {"characters counted, count ends inside a character",
       "<NAME:5>Andr\xc3\xa9 <CALL:2>K1<EOR>",
       {"#1 L1 NAME=Andr\xc3\xa9|CALL=K1 [chars]"}},
      {"characters counted, count ends between characters",
       "<NAME:6>H\xc3\xa9l\xc3\xa8ne<EOR>",
       {"#1 L1 NAME=H\xc3\xa9l\xc3\xa8ne [chars]"}},
      {"bytes kept when neither count lands on a field",
       "<NAME:5>Andr\xc3\xa9 x <CALL:2>K1<EOR>",
       {"#1 L1 NAME=Andr\xc3|CALL=K1"}},
      {"a length no record can hold swallows no record",
       "<NOTES:999999999>abc<CALL:2>K1<EOR><CALL:2>K2<EOR>",
       {"#1 L1 CALL=K1 !champ NOTES annonce 999999999 octets, plus qu'un enregistrement n'en "
        "tient (1048576)!",
        "#2 L1 CALL=K2"}},
  };
  for (const auto& c : cases) {
    for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{4096}}) {
      EXPECT_EQ(read_all(c.text, piece), c.expected) << c.name << ", pieces of " << piece;
    }
  }
  // One record reused for a whole file: nothing of a record stays in the next.
  std::string file;
  std::vector<std::string> expected;
  for (const auto& c : cases) {
    const auto records = read_all(c.text, 4096);
    if (!records.empty() && records.back().ends_with(" [cut]")) continue;
    file += std::string(c.text) + "\n";
  }
  for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
    EXPECT_EQ(read_all(file, piece, into::one_reused_record), read_all(file, piece))
        << "pieces of " << piece;
  }
}

TEST(AdifReaderTest, KeepsBoundedMemoryPerRecord) {
  std::string text;
  const std::string value(kMaxRecordBytes / 4, 'x');
  for (int i = 0; i < 6; ++i)
    text += "<F" + std::to_string(i) + ":" + std::to_string(value.size()) + ">" + value;
  text += "<EOR>";
  adif_reader reader;
  reader.feed(text);
  reader.finish();
  const auto record = reader.next();
  ASSERT_TRUE(record);
  EXPECT_EQ(record->fields.size(), 3u);
  EXPECT_EQ(record->problem, "champ F3 ignore (enregistrement trop long)");
  EXPECT_TRUE(record->complete);
}

// A record reused from one to the next keeps its storage, but not that of a
// long value once the values are short again.
TEST(AdifReaderTest, ReusedRecordsDoNotKeepALongValue) {
  const std::string value(kMaxRecordBytes / 2, 'x');
  adif_reader reader;
  reader.feed("<NOTES:" + std::to_string(value.size()) + ">" + value +
              "<EOR><CALL:2>K1<EOR><CALL:2>K2<EOR><CALL:2>K3<EOR>");
  reader.finish();
  adif_read_record record;
  std::size_t read = 0;
  while (reader.next(record)) {
    if (++read > 1) {
      EXPECT_LT(record.fields.at(0).value.capacity(), 1000u) << read;
    }
  }
  EXPECT_EQ(read, 4u);
}

}  // namespace
}  // namespace velkrin::adif
