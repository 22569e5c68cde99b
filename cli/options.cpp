#include <CLI/CLI.hpp>

#include <algorithm>
#include <iostream>
#include <sstream>

#include "cli/cli.h"
#include "cli/jobs.h"
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

// For a word CLI11 did not take: what it is and the nearest name it may have meant. Empty when the
// word is not a mistyped command or option (CLI11's own message says what is wrong then).
std::string UnknownWord(CLI::App& app, const std::vector<CLI::App*>& commands) {
  CLI::App* command = nullptr;
  for (CLI::App* c : commands)
    command = c->parsed() ? c : command;
  std::vector<std::string> extra = command ? command->remaining() : std::vector<std::string>{};
  for (const std::string& word : app.remaining())
    extra.push_back(word);
  if (extra.empty())
    return {};
  const std::string word = extra.front().substr(0, extra.front().find('='));
  std::vector<std::string> names;
  if (word[0] == '-') {
    for (CLI::App* a : {&app, command ? command : &app}) {
      for (const CLI::Option* option : a->get_options()) {
        for (const std::string& name : option->get_lnames())
          names.push_back("--" + name);
        for (const std::string& name : option->get_snames())
          names.push_back("-" + name);
      }
    }
  } else if (!command) {
    for (const CLI::App* c : commands)
      names.push_back(c->get_name());
  } else {
    return {};
  }
  const std::string nearest = NearestName(word, names);
  return "valdrix-config: unknown " + std::string(word[0] == '-' ? "option " : "command ") + word +
         (nearest.empty() ? " (valdrix-config --help lists them)"
                          : "; did you mean " + nearest + "?");
}

}  // namespace

std::string VersionText() {
  return std::string("valdrix-config ") + VALDRIX_VERSION_TEXT;
}

std::optional<int> CheckNumber(const std::string& option, const std::string& text, int low,
                               int high, std::ostream& err) {
  // Plain decimal digits only: no sign, no spaces, no hex, so that what runs is what was meant.
  bool digits = !text.empty();
  long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      digits = false;
      break;
    }
    if (value <= high)  // stop growing once out of range; no overflow
      value = value * 10 + (c - '0');
  }
  if (!digits) {
    err << "valdrix-config: " << option << ": '" << text << "' is not a number\n";
    return std::nullopt;
  }
  if (value < low || value > high) {
    err << "valdrix-config: " << option << ": " << text << " is outside " << low << " to " << high
        << "\n";
    return std::nullopt;
  }
  return static_cast<int>(value);
}

Parsed ParseArguments(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                      std::istream* in) {
  // Refusals are collected, so that with --json they also go out as a JSON error object.
  std::ostringstream said;
  const auto refused = [&]() -> Parsed {
    err << said.str();
    if (std::find(args.begin(), args.end(), "--json") != args.end()) {
      const std::string text = said.str();
      PrintJson(FailureJson(nullptr, UsageFailure(text.substr(0, text.find('\n')), Reason::Usage)),
                out);
    }
    return {std::nullopt, EXIT_USAGE};
  };

  CLI::App app{
      T_("Finds a Valdrix interface on a serial port, shows its settings and changes them."),
      "valdrix-config"};
  app.set_version_flag("--version", VersionText());
  app.require_subcommand(1);
  app.fallthrough();

  Options options;
  app.add_flag("--trace", options.trace,
               T_("print every frame sent and every reply received on stderr"));
  app.add_flag("--json", options.json, T_("print the results as JSON"));
  std::string rate;
  CLI::Option* rateOption =
      app.add_option("--rate", rate,
                     T_("show, set, find: try only this line rate, one of ") + LineRatesText())
          ->type_name("N");

  CLI::App* list = app.add_subcommand("list", T_("print the free serial ports, one a line"));
  list->add_flag("-l,--long", options.longList,
                 T_("every serial device with its USB details, link and state (free, in use, "
                    "permission denied)"));
  std::string port;
  CLI::App* show =
      app.add_subcommand("show", T_("search the interface on PORT and print its values"));
  show->add_option("PORT", port, T_("serial port (COM3, /dev/ttyUSB0, ...)"))->required();
  CLI::App* set = app.add_subcommand(
      "set",
      T_("search the interface on PORT, write the given values, read them back and print them"));
  set->add_option("PORT", port, T_("serial port (COM3, /dev/ttyUSB0, ...)"))->required();
  CLI::App* find = app.add_subcommand(
      "find", T_("search every PORT given, or every free port, all at once, and report each"));
  find->add_option("PORT", options.ports, T_("serial ports (default: every free port)"));
  // After the commands: a command takes its parent's footer when it is made.
  app.footer(kFooter);
  // Taken as text and checked here, so that every refusal names its option the same way.
  std::string texts[std::size(kSettings)];
  CLI::Option* settingOptions[std::size(kSettings)];
  for (std::size_t i = 0; i < std::size(kSettings); ++i) {
    settingOptions[i] =
        set->add_option(kSettings[i].Option(), texts[i],
                        std::string(T_(kSettings[i].help)) + ", " + kSettings[i].Range())
            ->type_name("N");
  }
  std::string from;
  CLI::Option* fromOption =
      set->add_option("--from", from,
                      T_("the values in FILE, as valdrix-config --json show printed them (- reads "
                         "standard input); the options above win over it"))
          ->type_name("FILE");
  set->footer(T_("2 x modules16 + modules8 must stay below ") +
              std::to_string(MAX_MODULE_COUNT + 1) + ".");

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0)
      return {std::nullopt, app.exit(e, out, err)};
    const std::string unknown = UnknownWord(app, {list, show, set, find});
    if (unknown.empty()) {
      std::ostringstream library;  // CLI11's words, with our name in front as every message has
      app.exit(e, library, library);
      said << Said(library.str());
    } else {
      said << unknown << "\n";
    }
    return refused();
  }

  // An empty name, or a network address that cannot be meant: refused before any port is opened.
  const std::vector<std::string> given = find->parsed()   ? options.ports
                                         : list->parsed() ? std::vector<std::string>{}
                                                          : std::vector{port};
  for (const std::string& name : given) {
    if (name.empty()) {
      said << SELF
           << "PORT: an empty name; give a serial port (valdrix-config list -l shows them)\n";
      return refused();
    }
    if (const std::string why = RefusedPortName(name); !why.empty()) {
      said << SELF << why << "\n";
      return refused();
    }
  }
  if (rateOption->count() > 0) {
    for (const std::uint32_t r : LINE_RATES)
      options.rate = rate == DecimalText(static_cast<long>(r)) ? r : options.rate;
    if (!options.rate) {
      said << "valdrix-config: --rate: '" << rate << "' is not a line rate; give one of "
           << LineRatesText() << "\n";
      return refused();
    }
    if (list->parsed()) {
      said << "valdrix-config: list: --rate is for the commands that search (show, set, find)\n";
      return refused();
    }
  }
  if (list->parsed() || find->parsed()) {
    options.command = list->parsed() ? Command::List : Command::Find;
    return {options, EXIT_OK};
  }
  options.command = show->parsed() ? Command::Show : Command::Set;
  options.ports = {port};
  if (options.command == Command::Show)
    return {options, EXIT_OK};

  bool good = true;
  Settings& values = options.values;
  for (std::size_t i = 0; i < std::size(kSettings); ++i) {
    const Setting& setting = kSettings[i];
    if (settingOptions[i]->count() > 0) {
      values.*setting.value =
          CheckNumber(setting.Option(), texts[i], setting.low, setting.high, said);
      good = good && (values.*setting.value).has_value();
    }
  }
  if (good && fromOption->count() > 0) {
    std::string refusal;
    const std::optional<Settings> file = LoadSettings(from, in ? *in : std::cin, refusal);
    if (!file) {
      said << refusal << "\n";
      return refused();
    }
    // What the command line gives wins over the file.
    for (const Setting& setting : kSettings) {
      if (!(values.*setting.value))
        values.*setting.value = (*file).*setting.value;
    }
  }
  const std::string tooMany = good && values.modules16 && values.modules8
                                  ? CountRefusal(*values.modules16, *values.modules8)
                                  : "";
  if (!tooMany.empty()) {
    said << "valdrix-config: --modules16 and --modules8: " << tooMany << "\n";
    good = false;
  }
  bool any = false;
  std::string names;
  for (const Setting& setting : kSettings) {
    any = any || (values.*setting.value).has_value();
    names += setting.Option() + ", ";
  }
  if (good && !any) {
    said << "valdrix-config: set: give at least one of " << names
         << "or a --from file that has one\n";
    good = false;
  }
  if (!good)
    return refused();
  return {options, EXIT_OK};
}

}  // namespace valdrix::cli
