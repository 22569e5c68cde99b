// set's inputs and its verdict: a settings file, the read-back check, the nearest name.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "cli/nearest.h"
#include "cli/read_back_check.h"
#include "cli/settings_file.h"

namespace valdrix::cli {
namespace {

std::string Shown(const Settings& s) {
  std::string text;
  for (const auto& v : {s.address, s.base, s.modules16, s.modules8})
    text += (text.empty() ? "" : " ") + (v ? std::to_string(*v) : "-");
  return text;
}

TEST(SettingsFile, ContentsToValuesOrRefusal) {
  const std::string show =
      R"({"port":"/dev/pts/3","rate":57600,"version":"1.02","address":7,"base":12,"modules16":2,"modules8":1})";
  const struct {
    std::string text;
    const char* expected;  // the values, or what the refusal says after "f.json: "
  } cases[] = {
      // clang-format off
      {show, "7 12 2 1"},
      {R"({"address":null,"base":254,"modules16":127,"modules8":0,"port":null})", "- 254 127 0"},
      {"{}", "- - - -"}, {std::string(kMaxSettingsFileBytes - 2, ' ') + "{}", "- - - -"},
      {std::string(kMaxSettingsFileBytes - 1, ' ') + "{}", "larger than 64 KiB"},
      {R"({"adress":5})", "adress: unknown key (did you mean address?)"},
      {R"({"Base":5})", "Base: unknown key (did you mean base?)"},
      {R"({"address":5,"base":1,"address":6})", "address: given twice"},
      {"{\"\\u001b[2J" + std::string(50, 'k') + "\":1}", R"(\u001b[2Jkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkk...: unknown key;)"},
      {R"({"base":"x"})", R"(base: "x" is a string, not a whole number)"},
      {R"({"base":1.5})", "base: 1.5 is not a whole number"}, {R"({"base":1.0})", "base: 1.0 is not a whole"},
      {R"({"address":true})", "address: true is a boolean"},
      {R"({"modules8":[1]})", "modules8: [1] is an array"},
      {R"({"address":0})", "address: 0 is outside 1 to 31"}, {R"({"address":32})", "address: 32 is outside"},
      {R"({"base":-1})", "base: -1 is outside 0 to 254"},
      {R"({"base":18446744073709551660})", "base: 1.8446744073709552e+19 is not"},
      {R"({"base":4294967340})", "base: 4294967340 is outside"},  // 44 in 8 bits
      {R"({"modules16":127,"modules8":1})", "modules16 and modules8: 2 x 127 + 1 makes a module count of 255 or more (null leaves a value"},
      {"", "not JSON: parse error at line 1"}, {"address: 5", "not JSON: parse error"},
      {R"({"address":5)", "not JSON"}, {"[1]", "not a JSON object but an array"},
      {"null", "not a JSON object but a null"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 80));
    std::string refusal;
    const std::optional<Settings> settings = ParseSettings("f.json", c.text, refusal);
    EXPECT_EQ(settings ? Shown(*settings) : refusal.substr(0, refusal.find(c.expected)),
              settings ? c.expected : "f.json: ");
    EXPECT_EQ(settings.has_value(), refusal.empty());
  }
}

TEST(SettingsFile, OnlyARegularFileAFifoOrStandardInputIsRead) {
  const std::string fifo = testing::TempDir() + "valdrix-settings-fifo";
  const struct {
    const char* name;
    std::string input;  // standard input, or what a writer puts into the FIFO
    int keepOpenMs;     // the FIFO's writer, after writing; -1: no writer
    const char* expected;
  } cases[] = {
      // clang-format off
      {"-", R"({"base":3})", -1, "- 3 - -"},
      {"-", std::string(2 * kMaxSettingsFileBytes, ' ') + "{}", -1, "standard input: larger than"},
      {"/nonexistent/f.json", "", -1, "/nonexistent/f.json: no such file"},
      {"/dev/zero", "", -1, "/dev/zero: not a regular file; give a file, or - for standard input"},
      {"/", "", -1, "/: not a regular file"},
      {"/proc/self/mem", "", -1, "/proc/self/mem: could not be read: Input/output error"},
      // The shell's <(...): read to its end, within the same bound and a time bound.
      {fifo.c_str(), R"({"base":3})", 0, "- 3 - -"},
      {fifo.c_str(), std::string(kMaxSettingsFileBytes + 1, ' '), 600, "larger than 64 KiB"},
      {fifo.c_str(), "", -1, "did not deliver a whole file within"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name + (" " + c.input.substr(0, 10)));
    std::istringstream in(c.input);
    ASSERT_TRUE(c.name != fifo || mkfifo(c.name, 0600) == 0);
    std::thread writer;
    if (c.keepOpenMs >= 0) {
      writer = std::thread([&c] {
        const int fd = open(c.name, O_WRONLY);
        EXPECT_EQ(write(fd, c.input.data(), c.input.size()), ssize_t(c.input.size()));
        std::this_thread::sleep_for(std::chrono::milliseconds(c.keepOpenMs));
        close(fd);
      });
    }
    const auto start = std::chrono::steady_clock::now();
    std::string refusal;
    const std::optional<Settings> settings = LoadSettings(c.name, in, refusal, 200);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_NE((settings ? Shown(*settings) : refusal).find(c.expected), std::string::npos)
        << refusal;
    if (writer.joinable())
      writer.join();
    unlink(fifo.c_str());
  }
}

TEST(ReadBack, AskedAgainstRead) {
  const Settings held{10, 44, 2, 1};  // before writing
  const struct {
    Settings asked, after;
    const char* lines;    // joined by "|"
    const char* notKept;  // asked / read, only the values not kept
    const char* note;     // a part of it; "": none
  } cases[] = {
      // clang-format off
      {{9, 20, 4, 3}, {9, 20, 5, 1}, "", "- - - - / - - - -",
       "2 x modules16 + modules8 = 11, and reads it back as 5 and 1 (the same 88 inputs)"},
      {{9, {}, {}, {}}, {3, 44, 2, 1}, "XpressNet address: asked 9, the interface holds 3", "9 - - - / 3 - - -", ""},
      {{{}, 20, {}, {}}, {10, {}, 2, 1}, "module base address: asked 20, the interface did not report it",
       "- 20 - - / - - - -", ""},
      {{{}, {}, 4, 3}, {10, 44, 4, 1},
       "module count (2 x modules16 + modules8): asked 11 (4 and 3), the interface holds 9 (4 and 1)",
       "- - 4 3 / - - 4 1", ""},
      // The half not given is written as it was read.
      {{{}, {}, {}, 3}, {10, 44, 3, 1}, "", "- - - - / - - - -", "= 7,"},
      {{{}, {}, {}, 3}, {10, 44, 2, 1}, "module count (2 x modules16 + modules8): asked 7 (2 and 3), "
       "the interface holds 5 (2 and 1)", "- - 2 3 / - - 2 1", ""},
      {{{}, {}, 0, {}}, {10, 44, {}, {}}, "module count (2 x modules16 + modules8): asked 1 (0 and 1), "
       "the interface did not report it", "- - 0 1 / - - - -", ""},
      {{1, 0, 0, 0}, {1, 0, 0, 0}, "", "- - - - / - - - -", ""},
      {{}, held, "", "- - - - / - - - -", ""},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Shown(c.asked) + " -> " + Shown(c.after));
    const ReadBackCheck check = CheckReadBack(c.asked, held, c.after);
    std::string lines;
    for (const std::string& line : check.lines)
      lines += (lines.empty() ? "" : "|") + line;
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(check.Kept(), lines.empty());
    EXPECT_EQ(Shown(check.asked) + " / " + Shown(check.read), c.notKept);
    EXPECT_EQ(check.note.empty(), *c.note == '\0') << check.note;
    EXPECT_NE(check.note.find(c.note), std::string::npos) << check.note;
  }
}

TEST(Nearest, MistypedNames) {
  const std::vector<std::string> names = {"list", "show", "set", "find", "--address", "--json"};
  const struct {
    const char* word;
    const char* nearest;
  } cases[] = {
      {"shwo", "show"}, {"--adress", "--address"}, {"lsit", "list"}, {"st", "set"}, {"ls", ""},
      {"serch", ""},    {"--jsno", "--json"},      {"x", ""}};
  for (const auto& c : cases)
    EXPECT_EQ(NearestName(c.word, names), c.nearest) << c.word;
}

}  // namespace
}  // namespace valdrix::cli
