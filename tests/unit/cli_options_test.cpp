#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace valdrix::cli {
namespace {

struct Outcome {
  Parsed parsed;
  std::string out;
  std::string err;
};

Outcome Parse(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  Outcome o{ParseArguments(args, out, err), {}, {}};
  o.out = out.str();
  o.err = err.str();
  return o;
}

struct Refusal {
  std::vector<std::string> args;
  std::string named;  // what the message must name
};

TEST(CliOptions, RefusesOutOfRangeAndNonNumbersNamingTheOption) {
  const Refusal cases[] = {
      {{"set", "COM3", "--address", "0"}, "--address"},
      {{"set", "COM3", "--address", "32"}, "--address"},
      {{"set", "COM3", "--address", "-1"}, "--address"},
      {{"set", "COM3", "--address", "+5"}, "--address"},
      {{"set", "COM3", "--address", " 5"}, "--address"},
      {{"set", "COM3", "--address", "0x10"}, "--address"},
      {{"set", "COM3", "--address", "abc"}, "--address"},
      {{"set", "COM3", "--address", ""}, "--address"},
      {{"set", "COM3", "--address", "99999999999999999999"}, "--address"},
      {{"set", "COM3", "--base", "255"}, "--base"},
      {{"set", "COM3", "--base", "12x"}, "--base"},
      {{"set", "COM3", "--modules16", "128"}, "--modules16"},
      {{"set", "COM3", "--modules8", "255"}, "--modules8"},
      {{"set", "COM3", "--modules8", "1.5"}, "--modules8"},
      // What a field would wrap or skip into something in range is refused here.
      {{"set", "COM3", "--base", "4294967296"}, "--base"},  // 2^32, 0 in a field
      {{"set", "COM3", "--base", "4294967340"}, "--base"},  // 2^32 + 44
      {{"set", "COM3", "--modules16", std::string(254, '9')}, "--modules16"},
      {{"set", "COM3", "--modules8", " -1"}, "--modules8"},
      {{"set", "COM3", "--modules8", "+7"}, "--modules8"},
      {{"set", "COM3", "--modules8", "abc"}, "--modules8"},
      {{"set", "COM3", "--modules8", "7 "}, "--modules8"},
      {{"set", "COM3", "--base", ""}, "--base"},
      {{"set", "COM3", "--modules8", ""}, "--modules8"},
      // 2 x 127 + 1 is the module-count query's value byte.
      {{"set", "COM3", "--modules16", "127", "--modules8", "1"}, "--modules8"},
      {{"set", "COM3", "--modules16", "100", "--modules8", "60"}, "--modules16"},
      {{"set", "COM3"}, "--address"},  // nothing to set
  };
  for (const Refusal& c : cases) {
    const Outcome o = Parse(c.args);
    std::string line;
    for (const auto& a : c.args)
      line += "'" + a + "' ";
    EXPECT_FALSE(o.parsed.options.has_value()) << line;
    EXPECT_EQ(o.parsed.exitStatus, EXIT_USAGE) << line;
    EXPECT_NE(o.err.find(c.named), std::string::npos) << line << "\n" << o.err;
    EXPECT_TRUE(o.out.empty()) << line;
  }
}

TEST(CliOptions, TakesTheLimitsOfEachRange) {
  const Outcome o = Parse({"--json", "set", "/dev/ttyUSB0", "--address", "31", "--base", "254",
                           "--modules16", "127", "--modules8", "0"});
  ASSERT_TRUE(o.parsed.options.has_value()) << o.err;
  const Options& opt = *o.parsed.options;
  EXPECT_EQ(opt.command, Command::Set);
  EXPECT_EQ(opt.port, "/dev/ttyUSB0");
  EXPECT_EQ(opt.address, 31);
  EXPECT_EQ(opt.base, 254);
  EXPECT_EQ(opt.modules16, 127);
  EXPECT_EQ(opt.modules8, 0);
  EXPECT_TRUE(opt.json);
  EXPECT_FALSE(opt.trace);

  const Outcome low = Parse({"set", "COM3", "--address", "1", "--base", "0", "--modules8", "254"});
  ASSERT_TRUE(low.parsed.options.has_value()) << low.err;
  EXPECT_EQ(low.parsed.options->address, 1);
  EXPECT_EQ(low.parsed.options->base, 0);
  EXPECT_EQ(low.parsed.options->modules8, 254);
  EXPECT_FALSE(low.parsed.options->modules16.has_value());

  // Leading zeros are still plain digits, however many.
  const Outcome zeros = Parse({"set", "COM3", "--base", std::string(252, '0') + "42"});
  ASSERT_TRUE(zeros.parsed.options.has_value()) << zeros.err;
  EXPECT_EQ(zeros.parsed.options->base, 42);
}

TEST(CliOptions, GlobalFlagsBeforeOrAfterTheCommand) {
  for (const auto& args : {std::vector<std::string>{"--trace", "--json", "show", "COM3"},
                           std::vector<std::string>{"show", "COM3", "--trace", "--json"}}) {
    const Outcome o = Parse(args);
    ASSERT_TRUE(o.parsed.options.has_value()) << o.err;
    EXPECT_EQ(o.parsed.options->command, Command::Show);
    EXPECT_EQ(o.parsed.options->port, "COM3");
    EXPECT_TRUE(o.parsed.options->trace);
    EXPECT_TRUE(o.parsed.options->json);
  }
}

TEST(CliOptions, UsageErrorsHelpAndVersion) {
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"show"},
                           std::vector<std::string>{"frobnicate", "COM3"},
                           std::vector<std::string>{"show", "COM3", "--address", "3"},
                           std::vector<std::string>{"list", "--bogus"}}) {
    const Outcome o = Parse(args);
    EXPECT_FALSE(o.parsed.options.has_value());
    EXPECT_EQ(o.parsed.exitStatus, EXIT_USAGE);
    EXPECT_FALSE(o.err.empty());
  }
  const Outcome help = Parse({"--help"});
  EXPECT_FALSE(help.parsed.options.has_value());
  EXPECT_EQ(help.parsed.exitStatus, EXIT_OK);
  // Every exit status is listed.
  for (const char* status : {"  0  ", "  2  ", "  3  ", "  4  ", "  5  "})
    EXPECT_NE(help.out.find(status), std::string::npos) << status;

  const Outcome version = Parse({"--version"});
  EXPECT_EQ(version.parsed.exitStatus, EXIT_OK);
  EXPECT_EQ(version.out, VersionText() + "\n");
}

TEST(CliOptions, ErrorTextsMapToTheirStatus) {
  EXPECT_EQ(StatusForError("Could not open COM3"), EXIT_CANNOT_OPEN);
  EXPECT_EQ(StatusForError("Could not write to COM3"), EXIT_CANNOT_WRITE);
  EXPECT_EQ(StatusForError("No Valdrix found on /dev/pts/4"), EXIT_NOT_FOUND);
}

}  // namespace
}  // namespace valdrix::cli
