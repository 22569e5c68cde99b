#include <CLI/CLI.hpp>

#include <algorithm>
#include <iostream>
#include <sstream>

#include "base/translate.h"
#include "cli/cli.h"
#include "cli/failure.h"
#include "cli/json.h"
#include "cli/nearest.h"
#include "cli/settings_table.h"
#include "network/network.h"
#include "protocol/frames.h"
#include "protocol/text.h"

#ifndef VALDRIX_VERSION_TEXT
#define VALDRIX_VERSION_TEXT "unknown"
#endif

namespace valdrix::cli {
namespace {

constexpr char kFooter[] =
    "Commands:\n"
    "  valdrix-config [--json] list [--long]\n"
    "  valdrix-config [--trace] [--json] [--rate N] show PORT\n"
    "  valdrix-config [--trace] [--json] [--rate N] set PORT [--from FILE] [--address N]\n"
    "                 [--base N] [--modules16 N] [--modules8 N]\n"
    "  valdrix-config [--trace] [--json] [--rate N] find [PORT...]\n"
    "PORT is a name such as COM3, a path such as /dev/ttyUSB0, or rfc2217://HOST:PORT for a port\n"
    "served by ser2net on another machine. While searching, the rates tried and the steps are\n"
    "shown on stderr when it is a terminal. Only serial ports are opened, and only when no other\n"
    "program holds them.\n"
    "\n"
    "Exit status:\n"
#define VALDRIX_EXIT(name, number, meaning) "  " #number "  " meaning "\n"
#define VALDRIX_EXIT_SIGNALLED(number, meaning) "  " number "  " meaning "\n"
#include "cli/exit_statuses.def"
#undef VALDRIX_EXIT_SIGNALLED
#undef VALDRIX_EXIT
    ;

// The command line's commands and options, bound to where their values go.
struct CommandLine {
  CommandLine();
  std::vector<CLI::App*> Commands() const { return {list, show, set, find}; }

  CLI::App app{
      T_("Finds a Valdrix interface on a serial port, shows its settings and changes them."),
      "valdrix-config"};
  Options options;
  std::string rate, port, from;
  // Taken as text and checked here, so that every refusal names its option the same way.
  std::string texts[std::size(kSettings)];
  CLI::Option* rateOption = nullptr;
  CLI::Option* settingOptions[std::size(kSettings)] = {};
  CLI::Option* fromOption = nullptr;
  CLI::App *list = nullptr, *show = nullptr, *set = nullptr, *find = nullptr;
};

CommandLine::CommandLine() {
  app.set_version_flag("--version", VersionText());
  app.require_subcommand(1);
  app.fallthrough();
  app.add_flag("--trace", options.trace,
               T_("print every frame sent and every reply received on stderr"));
  app.add_flag("--json", options.json, T_("print the results as JSON"));
  rateOption =
      app.add_option("--rate", rate,
                     T_("show, set, find: try only this line rate, one of ") + LineRatesText())
          ->type_name("N");

  list = app.add_subcommand("list", T_("print the free serial ports, one a line"));
  list->add_flag("-l,--long", options.longList,
                 T_("every serial device with its USB details, link and state (free, in use, "
                    "permission denied)"));
  show = app.add_subcommand("show", T_("search the interface on PORT and print its values"));
  show->add_option("PORT", port, T_("serial port (COM3, /dev/ttyUSB0, ...)"))->required();
  set = app.add_subcommand(
      "set",
      T_("search the interface on PORT, write the given values, read them back and print them"));
  set->add_option("PORT", port, T_("serial port (COM3, /dev/ttyUSB0, ...)"))->required();
  find = app.add_subcommand(
      "find", T_("search every PORT given, or every free port, all at once, and report each"));
  find->add_option("PORT", options.ports, T_("serial ports (default: every free port)"));
  // After the commands: a command takes its parent's footer when it is made.
  app.footer(kFooter);
  for (std::size_t i = 0; i < std::size(kSettings); ++i) {
    settingOptions[i] =
        set->add_option(kSettings[i].Option(), texts[i],
                        std::string(T_(kSettings[i].help)) + ", " + kSettings[i].Range())
            ->type_name("N");
  }
  fromOption =
      set->add_option("--from", from,
                      T_("the values in FILE, as valdrix-config --json show printed them (- "
                         "reads standard input); the options above win over it"))
          ->type_name("FILE");
  set->footer(T_("2 x modules16 + modules8 must stay below ") +
              std::to_string(MAX_MODULE_COUNT + 1) + ".");
}

// The command that was given, or null.
CLI::App* Given(const CommandLine& line) {
  CLI::App* command = nullptr;
  for (CLI::App* c : line.Commands())
    command = c->parsed() ? c : command;
  return command;
}

// For a word CLI11 did not take: what it is and the nearest name it may have meant. Empty when the
// word is not a mistyped command or option.
std::string UnknownWord(CommandLine& line) {
  CLI::App* command = Given(line);
  std::vector<std::string> extra = command ? command->remaining() : std::vector<std::string>{};
  for (const std::string& word : line.app.remaining())
    extra.push_back(word);
  if (extra.empty())
    return {};
  const std::string word = extra.front().substr(0, extra.front().find('='));
  std::vector<std::string> names;
  if (word[0] == '-') {
    for (CLI::App* a : {&line.app, command ? command : &line.app}) {
      for (const CLI::Option* option : a->get_options()) {
        for (const std::string& name : option->get_lnames())
          names.push_back("--" + name);
        for (const std::string& name : option->get_snames())
          names.push_back("-" + name);
      }
    }
  } else if (!command) {
    for (const CLI::App* c : line.Commands())
      names.push_back(c->get_name());
  } else {
    return command->get_name() + ": " + word + " was not expected (valdrix-config " +
           command->get_name() + " --help says what it takes)";
  }
  const std::string nearest = NearestName(word, names);
  return "unknown " + std::string(word[0] == '-' ? "option " : "command ") + word +
         (nearest.empty() ? " (valdrix-config --help lists them)"
                          : "; did you mean " + nearest + "?");
}

// What CLI11 refused, in this program's words and with the option named.
std::string InOurWords(const CLI::ParseError& e, CommandLine& line) {
  const std::string unknown = UnknownWord(line);
  if (!unknown.empty())
    return unknown;
  const std::string what = e.what();
  const std::string name = what.substr(0, what.find(':'));
  if (what.find("subcommand is required") != std::string::npos)
    return "give a command: list, show, set or find (valdrix-config --help says more)";
  if (what == "PORT is required") {
    const CLI::App* command = Given(line);
    return (command ? command->get_name() + ": " : "") +
           "give a PORT (valdrix-config list shows the free ones)";
  }
  if (what.find(" required but received ") != std::string::npos)
    return name + ": given more than once; give it once";
  if (what.find(" missing") != std::string::npos) {
    std::string value = "a value";
    for (const CLI::App* a : {&line.app, line.set})
      for (const CLI::Option* option : a->get_options())
        value = option->check_name(name) ? option->get_type_name() : value;
    return name + ": no value given; give " + name + " " + value;
  }
  return what;  // none that this command line can cause
}

// An empty name, or a network address that cannot be meant: refused before any port is opened.
std::string PortRefusal(const CommandLine& line) {
  const std::vector<std::string> given = line.find->parsed()   ? line.options.ports
                                         : line.list->parsed() ? std::vector<std::string>{}
                                                               : std::vector{line.port};
  for (const std::string& name : given) {
    if (name.empty())
      return "PORT: an empty name; give a serial port (valdrix-config list -l shows them)";
    if (std::string why = RefusedPortName(name); !why.empty())
      return why;
  }
  return {};
}

std::string RateRefusal(CommandLine& line) {
  if (line.rateOption->count() == 0)
    return {};
  for (const std::uint32_t r : LINE_RATES)
    line.options.rate = line.rate == DecimalText(static_cast<long>(r)) ? r : line.options.rate;
  if (!line.options.rate)
    return "--rate: '" + line.rate + "' is not a line rate; give one of " + LineRatesText();
  if (line.list->parsed())
    return "list: --rate is for the commands that search (show, set, find)";
  return {};
}

// set: the values from the options and the --from file, checked; refusals added to refused.
void TakeValues(CommandLine& line, std::istream& in, std::vector<std::string>& refused) {
  Settings& values = line.options.values;
  for (std::size_t i = 0; i < std::size(kSettings); ++i) {
    const Setting& setting = kSettings[i];
    std::string why;
    if (line.settingOptions[i]->count() > 0)
      values.*setting.value =
          CheckNumber(setting.Option(), line.texts[i], setting.low, setting.high, why);
    if (!why.empty())
      refused.push_back(why);
  }
  if (!refused.empty())
    return;
  if (line.fromOption->count() > 0) {
    std::string refusal;
    const std::optional<Settings> file = LoadSettings(line.from, in, refusal);
    if (!file) {
      refused.push_back(refusal);
      return;
    }
    // What the command line gives wins over the file.
    for (const Setting& setting : kSettings) {
      if (!(values.*setting.value))
        values.*setting.value = (*file).*setting.value;
    }
  }
  if (values.modules16 && values.modules8) {
    if (std::string tooMany = CountRefusal(*values.modules16, *values.modules8); !tooMany.empty())
      refused.push_back("--modules16 and --modules8: " + tooMany);
  }
  std::string names;
  bool any = false;
  for (const Setting& setting : kSettings) {
    any = any || (values.*setting.value).has_value();
    names += setting.Option() + ", ";
  }
  if (refused.empty() && !any)
    refused.push_back("set: give at least one of " + names + "or a --from file that has one");
}

}  // namespace

std::string VersionText() {
  return std::string("valdrix-config ") + VALDRIX_VERSION_TEXT;
}

std::optional<int> CheckNumber(const std::string& option, const std::string& text, int low,
                               int high, std::string& refusal) {
  // Plain decimal digits only, a minus sign at most: no plus, no spaces, no hex, so that what
  // runs is what was meant.
  const bool negative = text.size() > 1 && text[0] == '-';
  bool digits = !text.empty();
  long value = 0;
  for (const char c : text.substr(negative ? 1 : 0)) {
    if (c < '0' || c > '9') {
      digits = false;
      break;
    }
    if (value <= high)  // stop growing once out of range; no overflow
      value = value * 10 + (c - '0');
  }
  if (!digits) {
    refusal = option + ": '" + text + "' is not a number";
    return std::nullopt;
  }
  if (negative || value < low || value > high) {
    refusal =
        option + ": " + text + " is outside " + std::to_string(low) + " to " + std::to_string(high);
    return std::nullopt;
  }
  return static_cast<int>(value);
}

Parsed ParseArguments(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                      std::istream* in) {
  CommandLine line;
  std::vector<std::string> refused;
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    line.app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0)
      return {std::nullopt, line.app.exit(e, out, err)};
    refused.push_back(InOurWords(e, line));
  }
  if (refused.empty()) {
    for (const std::string& why : {PortRefusal(line), RateRefusal(line)}) {
      if (!why.empty() && refused.empty())
        refused.push_back(why);
    }
  }
  Options& options = line.options;
  options.command = line.list->parsed()   ? Command::List
                    : line.find->parsed() ? Command::Find
                    : line.show->parsed() ? Command::Show
                                          : Command::Set;
  if (refused.empty() && (options.command == Command::Show || options.command == Command::Set))
    options.ports = {line.port};
  if (refused.empty() && options.command == Command::Set)
    TakeValues(line, in ? *in : std::cin, refused);
  if (refused.empty())
    return {options, EXIT_OK};
  // Each refusal on stderr; with --json the first also goes out as a JSON error object.
  for (const std::string& why : refused)
    err << Said(why) << "\n";
  if (std::find(args.begin(), args.end(), "--json") != args.end())
    PrintJson(FailureJson(nullptr, UsageFailure(refused.front(), Reason::Usage)), out);
  return {std::nullopt, EXIT_USAGE};
}

}  // namespace valdrix::cli
