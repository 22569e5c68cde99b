#include <algorithm>
#include <ostream>

#include "cli/cli.h"
#include "cli/jobs.h"
#include "cli/json.h"
#include "cli/read_back_check.h"
#include "cli/settings_table.h"
#include "conversations/config_dialog.h"
#include "dialog/controls.h"
#include "dialog/memory_dialog.h"
#include "interrupt/interrupt.h"
#include "ports/port_advice.h"
#include "protocol/frames.h"
#include "protocol/text.h"

namespace valdrix::cli {
namespace {

// What a search that found the interface read, as data: a value the dialog has no entry for
// (an address outside 1 to 31) is still the interface's.
Report ReportOf(const std::string& port, const Outcome& found) {
  Report r;
  r.port = port;
  if (found.rate)
    r.rate = found.rate;
  if (!found.version.empty())
    r.version = found.version;
  r.values = found.values;
  return r;
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
  for (const Setting& setting : kSettings) {
    const std::optional<int>& asked = options.values.*setting.value;
    if (asked) {
      const bool out = std::find(sent.begin(), sent.end(), setting.sub) != sent.end();
      Settings& into = out ? result.written : result.notWritten;
      into.*setting.value = asked;
    }
  }
}

// Puts one option's value into its field as a user would; false when the field is disabled
// because the interface did not report that value.
bool Enter(MemoryDialog& dialog, const Setting& setting, const std::optional<int>& value,
           PortResult& result) {
  if (!value)
    return true;
  const std::string text = DecimalText(*value);
  const int id = setting.control;
  if (id == IDC_XN_ADDRESS ? dialog.Choose(id, text) : dialog.Type(id, text))
    return true;
  result.status = EXIT_CANNOT_WRITE;
  result.failure =
      UsageFailure("valdrix-config: " + setting.Option() +
                       T_(": the interface did not report this value, so it cannot be set"),
                   Reason::NotReported);
  return false;
}

// set: whether the interface kept what was written.
void CheckKept(const Options& options, const std::string& port, const Report& before,
               PortResult& result) {
  const ReadBackCheck check = CheckReadBack(options.values, before.values, result.report.values);
  result.note = check.note;
  if (check.Kept())
    return;
  std::string what;
  for (const std::string& line : check.lines)
    what += (what.empty() ? "" : "; ") + line;
  result.status = EXIT_NOT_KEPT;
  result.failure = UsageFailure(
      T_("The interface on ") + port + T_(" did not keep a value: ") + what, Reason::Mismatch);
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
    dialog.Say(T_("trying ") + DecimalText(static_cast<long>(rate)));
  };
  cfg.foundAt = [&dialog](std::uint32_t rate) {
    dialog.Say(T_("found at ") + DecimalText(static_cast<long>(rate)));
    dialog.Say(T_("reading the values"));
  };
  std::vector<std::uint8_t> sent;
  cfg.wrote = [&sent](std::uint8_t sub) { sent.push_back(sub); };
  PortResult result;
  Outcome found;  // the last search that found the interface
  // The first conversation that fails decides.
  const auto ended = [&](const Outcome& outcome) {
    if (outcome.kind == Outcome::Kind::Found)
      found = outcome;
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
    before = ReportOf(port, found);
    const Settings& asked = options.values;
    bool entered = true;
    for (const Setting& setting : kSettings)
      entered = entered && Enter(dialog, setting, asked.*setting.value, result);
    // One count given with the other as read back: the byte must still stay below 255.
    const std::string tooMany =
        asked.modules16 || asked.modules8
            ? CountRefusal(asked.modules16.value_or(before.values.modules16.value_or(0)),
                           asked.modules8.value_or(before.values.modules8.value_or(0)))
            : "";
    if (entered && !tooMany.empty()) {
      result.status = EXIT_USAGE;
      result.failure = UsageFailure(
          std::string("valdrix-config: ") + (asked.modules16 ? "--modules16" : "--modules8") +
              ": with the other count as read, " + tooMany + "; nothing was written",
          Reason::Usage);
    } else if (entered) {
      dialog.Say(T_("writing the values"));
      dialog.Press(IDOK);  // writes, then searches again to read back
      written = true;
    }
  }
  if (result.status == EXIT_OK) {
    result.searched = true;
    result.report = ReportOf(port, found);
    if (written)
      CheckKept(options, port, before, result);
  }
  // As the dialog's Close does: closes the interface if the search opened it, after an interrupt
  // too; only a second one cuts the close short.
  const interrupt::CloseStage closing;
  if (cfg.interfaceOpen)
    dialog.Say(T_("closing the interface"));
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
  // The values line up after the longest label.
  const auto line = [&out](const std::string& label, const auto& value) {
    std::string head = label + ":";
    head.resize(std::max<std::size_t>(head.size() + 1, 21), ' ');
    out << head;
    if (value)
      out << *value;
    else
      out << "-";
  };
  line(T_("port"), r.port.empty() ? std::nullopt : std::optional(r.port));
  out << "\n";
  line(T_("rate"), r.rate);
  out << "\n";
  line(T_("version"), r.version);
  out << "\n";
  for (const Setting& s : kSettings) {
    const std::optional<int>& value = r.values.*s.value;
    line(T_(s.label), value);
    // The interface's own value, though no field of the dialog could hold it.
    if (value && (*value < s.low || *value > s.high))
      out << T_(" (outside ") << s.Range() << ")";
    out << "\n";
  }
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
