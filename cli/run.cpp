#include <algorithm>
#include <ostream>

#include "cli/cli.h"
#include "cli/failure.h"
#include "cli/held_port.h"
#include "cli/interrupted.h"
#include "cli/json.h"
#include "cli/list.h"
#include "cli/progress.h"
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
// (an address outside 1 to 31) is still the interface's. The dialog shows a version that never
// came as "1.00"; the report leaves it out.
Report ReportOf(const std::string& port, const Outcome& found, bool versionAnswered) {
  Report r;
  r.port = port;
  if (found.rate)
    r.rate = found.rate;
  if (versionAnswered && !found.version.empty())
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
  bool leftOpen = false;  // the interface was opened and its close did not go out
};

// Whether set was asked to write the frame sub: the count frame when either count was given.
bool FrameAsked(const Settings& asked, std::uint8_t sub) {
  return std::any_of(std::begin(kSettings), std::end(kSettings),
                     [&](const Setting& s) { return s.sub == sub && asked.*s.value; });
}

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
  // A write that failed mid-set says what reached the interface, as an interrupt does.
  result.failure.setting = result.failure.reason == Reason::Write;
  result.failure.written = result.written;
  result.failure.notWritten = result.notWritten;
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
  result.failure = UsageFailure(
      setting.Option() + T_(": the interface did not report this value, so it cannot be set"),
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

// set: what the search read fills every field, and the dialog's Apply writes every field that
// holds a value; set writes only the frames asked for, so the others' fields are left empty.
bool EnterAsked(MemoryDialog& dialog, const Settings& asked, PortResult& result) {
  for (const Setting& setting : kSettings) {
    if (!Enter(dialog, setting, asked.*setting.value, result))
      return false;
    if (FrameAsked(asked, setting.sub))
      continue;
    if (setting.control == IDC_XN_ADDRESS)
      dialog.ClearSelection(setting.control);
    else
      dialog.SetText(setting.control, "");
  }
  return true;
}

// set: enters the values asked for and presses Apply, which writes them and then reads back;
// false when nothing was written (a value not reported, a module count too big).
bool Write(const Settings& asked, ProgressDialog& dialog, const Report& before,
           PortResult& result) {
  if (!EnterAsked(dialog, asked, result))
    return false;
  // One count given with the other as read back: the byte must still stay below 255.
  const std::string tooMany =
      asked.modules16 || asked.modules8
          ? CountRefusal(asked.modules16.value_or(before.values.modules16.value_or(0)),
                         asked.modules8.value_or(before.values.modules8.value_or(0)))
          : "";
  if (!tooMany.empty()) {
    result.status = EXIT_USAGE;
    result.failure =
        UsageFailure(std::string(asked.modules16 ? "--modules16" : "--modules8") +
                         ": with the other count as read, " + tooMany + "; nothing was written",
                     Reason::Usage);
    return false;
  }
  dialog.Say(T_("writing the values"));
  dialog.Press(IDOK);
  return true;
}

// The search's steps as progress lines.
void SayProgress(Configurator& cfg, ProgressDialog& dialog) {
  cfg.tryingRate = [&dialog](std::uint32_t rate) {
    dialog.Say(T_("trying ") + DecimalText(static_cast<long>(rate)));
  };
  cfg.foundAt = [&dialog](std::uint32_t rate) {
    dialog.Say(T_("found at ") + DecimalText(static_cast<long>(rate)));
    dialog.Say(T_("reading the values"));
  };
}

// show (and set): the search with its read-back, the writes, then the close, as the window's
// user would do them, all on one port held from the search to the close.
PortResult Converse(const Options& options, const std::string& port, SerialBackend& serial,
                    std::ostream* progress, const std::string& prefix) {
  HeldBackend held(serial);
  // Once interrupted, only the close talks.
  InterruptibleBackend interruptible(held);
  ProgressDialog dialog(progress, prefix);
  Configurator cfg(dialog, interruptible);
  cfg.onlyRate = options.rate;
  SayProgress(cfg, dialog);
  std::vector<std::uint8_t> sent;
  cfg.wrote = [&sent](std::uint8_t sub) { sent.push_back(sub); };
  PortResult result;
  Outcome found;  // the last search that found the interface, whose values the report gives
  bool versionAnswered = false;
  std::uint32_t openedAt = 0;  // the rate at which a search opened the interface
  // The first conversation that fails decides.
  const auto ended = [&](const Outcome& outcome) {
    if (outcome.kind == Outcome::Kind::Found) {
      found = outcome;
      versionAnswered = held.VersionAnswered();
      if (cfg.interfaceOpen)
        openedAt = outcome.rate;
    }
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
    before = ReportOf(port, found, versionAnswered);
    found = {};  // from here on, the read-back counts
    written = Write(options.values, dialog, before, result);
  }
  // The values read are reported even when a later step fails.
  if (found.kind == Outcome::Kind::Found) {
    result.searched = true;
    result.report = ReportOf(port, found, versionAnswered);
    if (written && result.status == EXIT_OK)
      CheckKept(options, port, before, result);
  }
  // The dialog closes what its last search opened; a read-back that found nothing leaves the
  // interface open all the same, at the rate the first search opened it at.
  if (!cfg.interfaceOpen && openedAt) {
    dialog.SelectEntry(IDC_RATE, DecimalText(static_cast<long>(openedAt)));
    cfg.interfaceOpen = true;
  }
  // As the dialog's Close does: closes the interface if the search opened it, after an interrupt
  // too; only a second one cuts the close short.
  const interrupt::CloseStage closing;
  if (cfg.interfaceOpen)
    dialog.Say(T_("closing the interface"));
  const bool wasOpen = cfg.interfaceOpen;
  cfg.stopping = interrupt::Signal() != 0;
  const Outcome closed = OnClose(cfg);
  ended(closed);
  // A close frame written into a link that then failed (not a stop's cut read) may never have
  // reached the interface.
  if (wasOpen && (closed.Failed() || (held.Failed() && interrupt::Signal() == 0))) {
    // The values were read, but a run that may leave the interface open is not done.
    Outcome lost(Outcome::Kind::CouldNotWrite);
    lost.openError.detail = "the port failed after the close frame was written";
    ended(lost);
    result.leftOpen = true;
    SayLeftOpen(result.failure, port);
  }
  if (options.command == Command::Set)
    PartWritten(options, sent, result);
  return result;
}

int Find(const Options& options, System& system, Streams streams, Stopped* stopped) {
  std::vector<std::string> ports;
  std::vector<std::string> devices;
  std::vector<std::pair<std::string, std::string>> again;  // a name, and the port it names again
  for (const std::string& port :
       options.ports.empty() ? FreePorts(system.describePorts()) : options.ports) {
    // Never two conversations with one device at once, though named twice (a link and its target).
    const std::string device = system.portIdentity ? system.portIdentity(port) : port;
    const auto seen = std::find(devices.begin(), devices.end(), device);
    if (seen == devices.end()) {
      devices.push_back(device);
      ports.push_back(port);
    } else {
      again.emplace_back(port, ports[static_cast<std::size_t>(seen - devices.begin())]);
    }
  }
  std::vector<PortResult> results(ports.size());
  system.inParallel(ports.size(), [&](std::size_t i) {
    results[i] = Converse(options, ports[i], system.serial, streams.progress, ports[i] + ": ");
  });

  int status = EXIT_NOT_FOUND;
  int leftOpen = EXIT_OK;  // an interface that may still be open outweighs one found elsewhere
  const char* sep = "";
  Json all = Json::array();
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const PortResult& r = results[i];
    if (r.leftOpen && leftOpen == EXIT_OK) {
      leftOpen = r.status;
      if (stopped)  // what an interrupted run says instead of the reports
        *stopped = {ports[i], false, {}, {}, true};
    }
    if (r.status == EXIT_OK)
      status = EXIT_OK;
    else if (r.searched && status == EXIT_NOT_FOUND)
      status = r.status;  // an interface answered, and a later step failed
    if (options.json) {
      all.push_back(r.status == EXIT_OK
                        ? ReportJson(r.report)
                        : FailureJson(&ports[i], r.failure, r.searched ? &r.report : nullptr));
    } else if (r.searched) {
      streams.out << sep;
      sep = "\n";
      PrintReport(r.report, false, streams.out);
    }
  }
  // Every name given gets its entry: a second name of a port says which.
  for (const auto& [name, first] : again)
    all.push_back(Json::object({{"port", name}, {"same_as", first}}));
  if (options.json)
    PrintJson(all, streams.out);
  // The ports without an interface, one line each, after the reports.
  for (std::size_t i = 0; i < ports.size() && !options.json; ++i) {
    if (results[i].status != EXIT_OK)
      streams.out << ports[i] << ": " << results[i].failure.verdict << "\n";
  }
  for (const auto& [name, first] : again) {
    if (!options.json)
      streams.out << name << ": the same port as " << first << "\n";
  }
  if (ports.empty())
    streams.err << SELF << "find: no serial port can be opened (see valdrix-config list)\n";
  return leftOpen != EXIT_OK ? leftOpen : status;
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
    // Each count within its range, the byte they make not (255 read back as 127 and 1).
    const Settings& v = r.values;
    if (s.value == &Settings::modules8 && v.modules16 && v.modules8 &&
        !CountRefusal(*v.modules16, *v.modules8).empty())
      out << " (" << CountRefusal(*v.modules16, *v.modules8) << ")";
    out << "\n";
  }
}

int Run(const Options& options, System& system, Streams streams, Stopped* stopped) {
  switch (options.command) {
    case Command::List:
      return List(options, system, streams);
    case Command::Find:
      return Find(options, system, streams, stopped);
    default:
      break;
  }
  const std::string& port = options.ports.front();
  const PortResult r = Converse(options, port, system.serial, streams.progress, "");
  if (interrupt::Signal() != 0) {
    if (stopped)
      *stopped = {port, options.command == Command::Set, r.written, r.notWritten, r.leftOpen};
    return r.status;
  }
  // One document whatever happened: the values read, then why the run failed after reading them.
  const Report* read = r.searched ? &r.report : nullptr;
  if (options.json)
    PrintJson(r.status == EXIT_OK ? ReportJson(r.report) : FailureJson(&port, r.failure, read),
              streams.out);
  else if (read)
    PrintReport(r.report, false, streams.out);
  if (!r.note.empty() && (r.status == EXIT_OK || !options.json))
    streams.err << Said(r.note) << "\n";
  if (r.status != EXIT_OK && !options.json)
    PrintFailure(r.failure, streams.err);
  return r.status;
}

}  // namespace valdrix::cli
