#include "console/console.hpp"
#include "console/last_resort.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <istream>
#include <new>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace velkrin {
namespace {

const std::string kPrompt = "P: ";
const std::string kRetry = std::string(kInvalidNumberMessage) + "\n" + kPrompt;

// A console over string streams.
struct session {
  explicit session(std::string input) : in(std::move(input)) {}
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  console io{in, out, err};

  // What a word read finds next; "<end>" at the end of input.
  std::string next_word() {
    std::string word;
    return io.read_word(word, 100) == read_status::answered ? word : "<end>";
  }
};

TEST(ConsoleTest, ReadsNumbersAsTokens) {
  struct {
    std::string input;
    bool answered;
    std::int32_t value;  // the field starts at 77
    std::string shown;   // after the prompt
    std::string next;    // what the next word read gets
  } cases[] = {
      {"", false, 77, "", "<end>"},
      {"\n  \t\n\r\n", false, 77, "", "<end>"},  // white space answers nothing
      {"42", true, 42, "", "<end>"},             // no line end: still taken
      {"   42 abc\n", true, 42, "", "abc"},
      {"+5\n", true, 5, "", "<end>"},
      {"-5\n", true, -5, "", "<end>"},
      {"0905\n", true, 905, "", "<end>"},
      {"000000000002147483647\n", true, 2147483647, "", "<end>"},
      {"2147483647", true, 2147483647, "", "<end>"},
      {"-2147483648", true, -2147483647 - 1, "", "<end>"},
      {"905h\n", true, 905, "", "h"},
      {"12\r\n34\r\n", true, 12, "", "34"},
      {"7 8\n", true, 7, "", "8"},
      // No number: message, the same prompt, the rest of the line dropped.
      {"-\n7\n", true, 7, kRetry, "<end>"},
      {"- 5\n7\n", true, 7, kRetry, "<end>"},
      {"--5\n7\n", true, 7, kRetry, "<end>"},
      {"abc def\n8 x\n", true, 8, kRetry, "x"},
      {"x\r\n5\r\n", true, 5, kRetry, "<end>"},
      {"2147483648\n7\n", true, 7, kRetry, "<end>"},
      {"-2147483649\n7\n", true, 7, kRetry, "<end>"},
      {"99999999999999999999999 1\n7\n", true, 7, kRetry, "<end>"},
      {"a\nb\n3\n", true, 3, kRetry + kRetry, "<end>"},
      // An invalid answer that runs into the end: re-asked, then the end.
      {"abc", false, 77, kRetry, "<end>"},
      {"+", false, 77, kRetry, "<end>"},
  };
  for (const auto& c : cases) {
    session s(c.input);
    std::int32_t field = 77;
    s.io.show_prompt(kPrompt);
    const read_status status = s.io.read_number(field);
    EXPECT_EQ(status == read_status::answered, c.answered) << c.input;
    EXPECT_EQ(field, c.value) << c.input;
    EXPECT_EQ(s.out.str(), kPrompt + c.shown) << c.input;
    EXPECT_EQ(s.next_word(), c.next) << c.input;
    EXPECT_EQ(s.err.str(), "") << c.input;
  }
}

TEST(ConsoleTest, ReadsWordsWithinTheirCapacity) {
  const std::string too_long = word_too_long_message(5) + "\n" + kPrompt;
  struct {
    std::string input;
    bool answered;
    std::string value;  // the field starts as "old"
    std::string shown;
    std::string next;
  } cases[] = {
      {"", false, "old", "", "<end>"},
      {"abcde\n", true, "abcde", "", "<end>"},  // exactly the capacity
      {" \t\r\n ok\r\nnext\r\n", true, "ok", "", "next"},
      {"a;b_c", true, "a;b_c", "", "<end>"},
      {"ab cd\n", true, "ab", "", "cd"},
      {"abcdef\n", false, "old", too_long, "<end>"},
      {"abcdef ghi\nxyz rest\n", true, "xyz", too_long, "rest"},
      {"abcdef\r\nxyz\r\n", true, "xyz", too_long, "<end>"},
      {"\xc3\xa0\xc3\xa0\xc3\xa0\n", false, "old", too_long, "<end>"},  // bytes count
  };
  for (const auto& c : cases) {
    session s(c.input);
    std::string field = "old";
    s.io.show_prompt(kPrompt);
    const read_status status = s.io.read_word(field, 5);
    EXPECT_EQ(status == read_status::answered, c.answered) << c.input;
    EXPECT_EQ(field, c.value) << c.input;
    EXPECT_EQ(s.out.str(), kPrompt + c.shown) << c.input;
    EXPECT_EQ(s.next_word(), c.next) << c.input;
  }
  EXPECT_EQ(word_too_long_message(259), "Saisie trop longue : 259 caracteres au maximum.");
}

// An invalid answer drops the rest of its line only, whatever ends it: LF,
// CR LF or a lone CR (old Macintosh files, some terminals).
TEST(ConsoleTest, InvalidAnswerDropsOnlyTheRestOfItsLine) {
  for (const std::string eol : {"\n", "\r\n", "\r"}) {
    session s("x y" + eol + "12" + eol + "mot" + eol);
    std::int32_t number = 0;
    ASSERT_EQ(s.io.read_number(number), read_status::answered) << eol.size();
    EXPECT_EQ(number, 12);
    EXPECT_EQ(s.next_word(), "mot");
  }
}

TEST(ConsoleTest, AsksAgainWithExactlyTheLastShownText) {
  // Only the last text repeats: for the menu, the prompt without the menu.
  session menu("x\n0\n");
  std::int32_t field = 9;
  menu.io.show_line("1 >> Menu");
  menu.io.show_prompt("Votre choix : ");
  ASSERT_EQ(menu.io.read_number(field), read_status::answered);
  EXPECT_EQ(menu.out.str(),
            "1 >> Menu\nVotre choix : " + std::string(kInvalidNumberMessage) + "\nVotre choix : ");

  // A text shown as a line repeats with its line end.
  session line("x\n0\n");
  line.io.show_line("Question");
  ASSERT_EQ(line.io.read_number(field), read_status::answered);
  EXPECT_EQ(line.out.str(), "Question\n" + std::string(kInvalidNumberMessage) + "\nQuestion\n");

  // Leading line ends are part of the text.
  session ret("zz\n");
  ret.io.show_prompt("\n\nRetour.  ");
  ASSERT_EQ(ret.io.read_number(field), read_status::end_of_input);
  EXPECT_EQ(ret.out.str(),
            "\n\nRetour.  " + std::string(kInvalidNumberMessage) + "\n\n\nRetour.  ");
}

TEST(ConsoleTest, NoExceptionLeavesTheGuard) {
  struct {
    std::function<int()> body;
    int status;
    std::string said;
  } cases[] = {
      {[] { return 0; }, 0, ""},
      {[]() -> int { throw std::bad_alloc(); }, 7,
       "Erreur : memoire insuffisante, le programme s'arrete.\n"},
      {[]() -> int { throw std::runtime_error("panne"); }, 7,
       "Erreur inattendue, le programme s'arrete : panne\n"},
      {[]() -> int { throw 42; }, 7, "Erreur inattendue, le programme s'arrete.\n"},
  };
  for (const auto& c : cases) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(run_guarded(c.body, out, err, 7), c.status);
    EXPECT_EQ(err.str(), c.said);
  }
}

// An output buffer that remembers how much had been flushed, and an input
// buffer, handing out one character at a time, that counts the reads made
// while some output was still unflushed.
struct flush_recorder : std::stringbuf {
  std::size_t flushed = 0;
  int sync() override {
    flushed = str().size();
    return 0;
  }
};

struct checked_input : std::streambuf {
  checked_input(std::string text, const flush_recorder& out) : text_(std::move(text)), out_(out) {}
  int unflushed_reads = 0;

 protected:
  int_type underflow() override {
    if (out_.flushed != out_.str().size()) ++unflushed_reads;
    if (next_ >= text_.size()) return traits_type::eof();
    char* c = &text_[next_++];
    setg(c, c, c + 1);
    return traits_type::to_int_type(*c);
  }

 private:
  std::string text_;
  std::size_t next_ = 0;
  const flush_recorder& out_;
};

TEST(ConsoleTest, FlushesEverythingBeforeEachRead) {
  flush_recorder out_buffer;
  checked_input in_buffer("x\n12 mot\n", out_buffer);
  std::istream in(&in_buffer);
  std::ostream out(&out_buffer);
  std::ostringstream err;
  console io(in, out, err, [](std::ostream&) {});
  std::int32_t number = 0;
  std::string word;
  io.show_prompt("Nombre : ");
  ASSERT_EQ(io.read_number(number), read_status::answered);  // asked twice
  io.show_line("Mot :");
  ASSERT_EQ(io.read_word(word, 5), read_status::answered);
  EXPECT_EQ(number, 12);
  EXPECT_EQ(word, "mot");
  EXPECT_EQ(in_buffer.unflushed_reads, 0);
  EXPECT_EQ(out_buffer.flushed, out_buffer.str().size());
}

}  // namespace
}  // namespace velkrin
