#include <algorithm>
#include <ostream>

#include "cli/cli.h"
#include "cli/jobs.h"
#include "cli/json.h"
#include "cli/read_back_check.h"
#include "conversations/config_dialog.h"
#include "dialog/controls.h"
#include "dialog/memory_dialog.h"
#include "interrupt/interrupt.h"
#include "ports/port_advice.h"
#include "protocol/frames.h"
#include "protocol/text.h"

namespace valdrix::cli {
namespace {

// The values the search put into the dialog; an empty field was not reported.
Report ReadReport(MemoryDialog& dialog, const std::string& port, std::uint32_t rate) {
  const auto number = [](const std::string& text) -> std::optional<int> {
    if (text.empty())
      return std::nullopt;
    return ParseDecimal(text);
  };
  Report r;
  r.port = port;
  if (rate)
    r.rate = rate;
  if (!dialog.Text(IDC_VERSION).empty())
    r.version = dialog.Text(IDC_VERSION);
  r.address = number(dialog.CurrentEntry(IDC_XN_ADDRESS));
  r.base = number(dialog.Text(IDC_BASE_ADDRESS));
  r.modules16 = number(dialog.Text(IDC_MODULES16));
  r.modules8 = number(dialog.Text(IDC_MODULES8));
  return r;
}

// The values set writes, as the report holds them.
Settings ValuesOf(const Report& r) {
  return {r.address, r.base, r.modules16, r.modules8};
}

// How one port's conversations ended.
struct PortResult {
  int status = EXIT_OK;
  Failure failure;  // when status is not EXIT_OK
  bool searched = false;
  Report report;     // when searched
  std::string note;  // set: why the counts read back split otherwise than asked
  // set: the values asked for whose frames went out, and the others.
  Settings written, notWritten;
};

// set: the values asked for, parted into those whose frames went out and the others.
void PartWritten(const Options& options, const std::vector<std::uint8_t>& sent,
                 PortResult& result) {
  const Settings asked{options.address, options.base, options.modules16, options.modules8};
  for (const auto& [sub, key] :
       {std::pair{SUB_XN_ADDRESS, &Settings::address}, std::pair{SUB_BASE_ADDRESS, &Settings::base},
        std::pair{SUB_MODULE_COUNT, &Settings::modules16},
        std::pair{SUB_MODULE_COUNT, &Settings::modules8}}) {
    if (asked.*key) {
      const bool out = std::find(sent.begin(), sent.end(), sub) != sent.end();
      Settings& into = out ? result.written : result.notWritten;
      into.*key = asked.*key;
    }
  }
}

// Puts one option's value into its field as a user would; false when the field is disabled
// because the interface did not report that value.
bool Enter(MemoryDialog& dialog, int id, const char* option, const std::optional<int>& value,
           PortResult& result) {
  if (!value)
    return true;
  const std::string text = DecimalText(*value);
  if (id == IDC_XN_ADDRESS ? dialog.Choose(id, text) : dialog.Type(id, text))
    return true;
  result.status = EXIT_CANNOT_WRITE;
  result.failure =
      UsageFailure(std::string("valdrix-config: ") + option +
                       ": the interface did not report this value, so it cannot be set",
                   Reason::NotReported);
  return false;
}

// set: whether the interface kept what was written.
void CheckKept(const Options& options, const std::string& port, const Report& before,
               PortResult& result) {
  const ReadBackCheck check =
      CheckReadBack({options.address, options.base, options.modules16, options.modules8},
                    ValuesOf(before), ValuesOf(result.report));
  result.note = check.note;
  if (check.Kept())
    return;
  std::string what;
  for (const std::string& line : check.lines)
    what += (what.empty() ? "" : "; ") + line;
  result.status = EXIT_NOT_KEPT;
  result.failure =
      UsageFailure("The interface on " + port + " did not keep a value: " + what, Reason::Mismatch);
  result.failure.asked = check.asked;
  result.failure.read = check.read;
}

// show (and set): the search with its read-back, the writes, then the close, as the window's
// user would do them.
PortResult Converse(const Options& options, const std::string& port, SerialBackend& serial,
                    std::ostream* progress, const std::string& prefix) {
  ProgressDialog dialog(progress, prefix);
  Configurator cfg(dialog, serial);
  cfg.onlyRate = options.rate;
  cfg.tryingRate = [&dialog](std::uint32_t rate) {
    dialog.Say("trying " + DecimalText(static_cast<long>(rate)));
  };
  cfg.foundAt = [&dialog](std::uint32_t rate) {
    dialog.Say("found at " + DecimalText(static_cast<long>(rate)));
    dialog.Say("reading the values");
  };
  std::vector<std::uint8_t> sent;
  cfg.wrote = [&sent](std::uint8_t sub) { sent.push_back(sub); };
  PortResult result;
  std::uint32_t rate = 0;  // of the last search that found the interface
  // The first conversation that fails decides.
  const auto ended = [&](const Outcome& outcome) {
    if (outcome.kind == Outcome::Kind::Found)
      rate = outcome.rate;
    if (result.status == EXIT_OK && outcome.Failed()) {
      result.status = StatusFor(outcome);
      result.failure = Explain(port, outcome, options.rate);
    }
  };
  dialog.SetCommandHandler([&](int id, int code) { ended(OnCommand(cfg, id, code)); });
  // Only the port asked for is listed, so any name or path works without enumerating.
  FillLists(dialog, {port});
  dialog.Choose(IDC_PORT, port);

  bool written = false;
  Report before;
  if (result.status == EXIT_OK && options.command == Command::Set) {
    before = ReadReport(dialog, port, rate);
    const bool entered = Enter(dialog, IDC_XN_ADDRESS, "--address", options.address, result) &&
                         Enter(dialog, IDC_BASE_ADDRESS, "--base", options.base, result) &&
                         Enter(dialog, IDC_MODULES16, "--modules16", options.modules16, result) &&
                         Enter(dialog, IDC_MODULES8, "--modules8", options.modules8, result);
    // One count given with the other as read back: the byte must still stay below 255.
    const long count = 2L * ParseDecimal(dialog.EditText(IDC_MODULES16)) +
                       ParseDecimal(dialog.EditText(IDC_MODULES8));
    if (entered && (options.modules16 || options.modules8) && count > MAX_MODULE_COUNT) {
      result.status = EXIT_USAGE;
      result.failure = UsageFailure(
          std::string("valdrix-config: ") + (options.modules16 ? "--modules16" : "--modules8") +
              ": with the other count as read, the module count would be " + std::to_string(count) +
              " (" + std::to_string(MAX_MODULE_COUNT + 1) + " or more); nothing was written",
          Reason::Usage);
    } else if (entered) {
      dialog.Say("writing the values");
      dialog.Press(IDOK);  // writes, then searches again to read back
      written = true;
    }
  }
  if (result.status == EXIT_OK) {
    result.searched = true;
    result.report = ReadReport(dialog, port, rate);
    if (written)
      CheckKept(options, port, before, result);
  }
  // As the dialog's Close does: closes the interface if the search opened it, after an interrupt
  // too; only a second one cuts the close short.
  const interrupt::CloseStage closing;
  if (cfg.interfaceOpen)
    dialog.Say("closing the interface");
  ended(OnClose(cfg));
  if (options.command == Command::Set)
    PartWritten(options, sent, result);
  return result;
}

int Find(const Options& options, System& system, Streams streams) {
  std::vector<std::string> ports;
  std::vector<std::string> devices;
  for (const std::string& port :
       options.ports.empty() ? FreePorts(system.describePorts()) : options.ports) {
    // Never two conversations with one device at once, though named twice (a link and its target).
    const std::string device = system.portIdentity ? system.portIdentity(port) : port;
    if (std::find(devices.begin(), devices.end(), device) == devices.end()) {
      devices.push_back(device);
      ports.push_back(port);
    }
  }
  std::vector<PortResult> results(ports.size());
  system.inParallel(ports.size(), [&](std::size_t i) {
    results[i] = Converse(options, ports[i], system.serial, streams.progress, ports[i] + ": ");
  });

  int status = EXIT_NOT_FOUND;
  const char* sep = "";
  Json all = Json::array();
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const PortResult& r = results[i];
    if (r.status == EXIT_OK)
      status = EXIT_OK;
    if (options.json) {
      all.push_back(r.status == EXIT_OK ? ReportJson(r.report) : FailureJson(&ports[i], r.failure));
    } else if (r.status == EXIT_OK) {
      streams.out << sep;
      sep = "\n";
      PrintReport(r.report, false, streams.out);
    }
  }
  if (options.json)
    PrintJson(all, streams.out);
  // The ports without an interface, one line each, after the reports.
  for (std::size_t i = 0; i < ports.size() && !options.json; ++i) {
    if (results[i].status != EXIT_OK)
      streams.out << ports[i] << ": " << results[i].failure.verdict << "\n";
  }
  if (ports.empty())
    streams.err << SELF << "find: no serial port can be opened (see valdrix-config list)\n";
  return status;
}

}  // namespace

void PrintReport(const Report& r, bool json, std::ostream& out) {
  if (json) {
    PrintJson(ReportJson(r), out);
    return;
  }
  const auto line = [&out](const char* name, const auto& value) {
    out << name;
    if (value)
      out << *value;
    else
      out << "-";
    out << "\n";
  };
  out << "port:                " << (r.port.empty() ? "-" : r.port) << "\n";
  line("rate:                ", r.rate);
  line("version:             ", r.version);
  line("XpressNet address:   ", r.address);
  line("module base address: ", r.base);
  line("16-bit modules:      ", r.modules16);
  line("8-bit modules:       ", r.modules8);
}

int Run(const Options& options, System& system, Streams streams, Stopped* stopped) {
  switch (options.command) {
    case Command::List:
      return List(options, system, streams);
    case Command::Find:
      return Find(options, system, streams);
    default:
      break;
  }
  const std::string& port = options.ports.front();
  const PortResult r = Converse(options, port, system.serial, streams.progress, "");
  if (interrupt::Signal() != 0) {
    if (stopped)
      *stopped = {port, options.command == Command::Set, r.written, r.notWritten};
    return r.status;
  }
  if (r.status != EXIT_OK && options.json) {
    PrintJson(FailureJson(&port, r.failure), streams.out);
    return r.status;
  }
  if (r.searched)
    PrintReport(r.report, options.json, streams.out);
  if (!r.note.empty())
    streams.err << Said(r.note) << "\n";
  if (r.status != EXIT_OK)
    PrintFailure(r.failure, streams.err);
  return r.status;
}

}  // namespace valdrix::cli
