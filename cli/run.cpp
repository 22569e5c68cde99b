#include <algorithm>
#include <cstdio>
#include <ostream>
#include <set>

#include "cli/cli.h"
#include "conversations/config_dialog.h"
#include "dialog/controls.h"
#include "dialog/memory_dialog.h"
#include "protocol/frames.h"
#include "protocol/text.h"
#include "serial/port_advice.h"

namespace valdrix::cli {
namespace {

// The in-memory dialog, telling a watcher each new status text and each rate the search tries.
// Several run at once in find, each line written whole with one insertion: the standard streams
// keep such a line together when threads write at once.
class ProgressDialog : public MemoryDialog {
 public:
  ProgressDialog(std::ostream* progress, std::string prefix)
      : progress_(progress), prefix_(std::move(prefix)) {}

  void SetText(int id, const std::string& text) override {
    const bool changed = id == IDC_STATUS && Text(IDC_STATUS) != text;
    MemoryDialog::SetText(id, text);
    if (changed)
      Say(text);
  }

  void SelectEntry(int id, const std::string& text) override {
    MemoryDialog::SelectEntry(id, text);
    if (id == IDC_RATE && Text(IDC_STATUS) == STATUS_SEARCHING)
      Say("  trying " + text);
  }

 private:
  void Say(const std::string& line) {
    if (progress_)
      *progress_ << (prefix_ + line + "\n") << std::flush;
  }

  std::ostream* progress_;
  std::string prefix_;
};

void JsonString(std::ostream& out, const std::string& text) {
  out << '"';
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out << '\\' << c;
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out << escaped;
    } else {
      out << c;
    }
  }
  out << '"';
}

// A text as JSON, null when empty; numbers as numbers.
void JsonText(std::ostream& out, const std::string& text) {
  if (text.empty())
    out << "null";
  else
    JsonString(out, text);
}
void JsonNumber(std::ostream& out, const std::string& text) {
  if (text.empty())
    out << "null";
  else
    out << ParseDecimal(text);
}

// {"key":value,...}; each field writes its own value as JSON.
using Field = std::function<void(std::ostream&)>;
void JsonObject(std::ostream& out, std::initializer_list<std::pair<const char*, Field>> fields) {
  out << '{';
  const char* sep = "";
  for (const auto& [key, write] : fields) {
    out << sep << '"' << key << "\":";
    write(out);
    sep = ",";
  }
  out << '}';
}
Field Text(const std::string& t) {
  return [t](std::ostream& o) { JsonText(o, t); };
}
Field Number(const std::string& t) {
  return [t](std::ostream& o) { JsonNumber(o, t); };
}

void JsonReport(const Report& r, std::ostream& out) {
  JsonObject(out, {{"port", Text(r.port)},
                   {"rate", Number(r.rate)},
                   {"version", Text(r.version)},
                   {"address", Number(r.address)},
                   {"base", Number(r.base)},
                   {"modules16", Number(r.modules16)},
                   {"modules8", Number(r.modules8)}});
}

void JsonFailure(const std::string* port, const Failure& f, std::ostream& out) {
  if (port)
    JsonObject(out,
               {{"port", Text(*port)}, {"error", Text(f.message)}, {"reason", Text(f.reason)}});
  else
    JsonObject(out, {{"error", Text(f.message)}, {"reason", Text(f.reason)}});
}

std::string ReasonFor(PortProblem problem) {
  switch (problem) {
    case PortProblem::Permission:
      return "permission";
    case PortProblem::Busy:
      return "busy";
    case PortProblem::Missing:
      return "missing";
    case PortProblem::NotAPort:
      return "not-a-port";
    default:
      return "other";
  }
}

Report ReadReport(MemoryDialog& dialog, const std::string& port) {
  return {port,
          dialog.CurrentEntry(IDC_RATE),
          dialog.Text(IDC_VERSION),
          dialog.CurrentEntry(IDC_XN_ADDRESS),
          dialog.Text(IDC_BASE_ADDRESS),
          dialog.Text(IDC_MODULES16),
          dialog.Text(IDC_MODULES8)};
}

// How one port's conversations ended.
struct PortResult {
  int status = EXIT_OK;
  Failure failure;  // when status is not EXIT_OK
  bool searched = false;
  Report report;  // when searched
};

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
  result.failure = {std::string("valdrix-config: ") + option +
                        ": the interface did not report this value, so it cannot be set",
                    "", "not-reported", ""};
  return false;
}

// show (and set): the search with its read-back, the writes, then the close, as the window's
// user would do them.
PortResult Converse(const Options& options, const std::string& port, SerialBackend& serial,
                    std::ostream* progress, const std::string& prefix) {
  ProgressDialog dialog(progress, prefix);
  Configurator cfg(dialog, serial);
  PortResult result;
  // The first conversation that fails decides.
  const auto ended = [&](const Outcome& outcome) {
    if (result.status == EXIT_OK && outcome.Failed()) {
      result.status = StatusFor(outcome);
      result.failure = Explain(port, outcome);
    }
  };
  dialog.SetCommandHandler([&](int id, int code) { ended(OnCommand(cfg, id, code)); });
  // Only the port asked for is listed, so any name or path works without enumerating.
  FillLists(dialog, {port});
  dialog.Choose(IDC_PORT, port);

  if (result.status == EXIT_OK && options.command == Command::Set) {
    const bool entered = Enter(dialog, IDC_XN_ADDRESS, "--address", options.address, result) &&
                         Enter(dialog, IDC_BASE_ADDRESS, "--base", options.base, result) &&
                         Enter(dialog, IDC_MODULES16, "--modules16", options.modules16, result) &&
                         Enter(dialog, IDC_MODULES8, "--modules8", options.modules8, result);
    // One count given with the other as read back: the byte must still stay below 255.
    const long count = 2L * ParseDecimal(dialog.EditText(IDC_MODULES16)) +
                       ParseDecimal(dialog.EditText(IDC_MODULES8));
    if (entered && (options.modules16 || options.modules8) && count > MAX_MODULE_COUNT) {
      result.status = EXIT_USAGE;
      result.failure = {
          std::string("valdrix-config: ") + (options.modules16 ? "--modules16" : "--modules8") +
              ": with the other count as read, the module count would be " + std::to_string(count) +
              " (" + std::to_string(MAX_MODULE_COUNT + 1) + " or more); nothing was written",
          "", "usage", ""};
    } else if (entered) {
      dialog.Press(IDOK);  // writes, then searches again to read back
    }
  }
  if (result.status == EXIT_OK) {
    result.searched = true;
    result.report = ReadReport(dialog, port);
  }
  // As the dialog's Close does: closes the interface if the search opened it.
  ended(OnClose(cfg));
  return result;
}

void PrintFailure(const Failure& f, std::ostream& err) {
  err << f.message << "\n";
  if (!f.hint.empty())
    err << f.hint << "\n";
}

std::string Or(const std::string& text, const std::string& otherwise) {
  return text.empty() ? otherwise : text;
}

void PrintDetails(const std::vector<PortDetails>& ports, bool json, std::ostream& out) {
  if (json) {
    out << '[';
    const char* sep = "";
    for (const PortDetails& p : ports) {
      out << sep;
      sep = ",";
      JsonObject(out, {{"port", Text(p.name)},
                       {"by_id", Text(p.byId)},
                       {"vendor_id", Text(p.vendorId)},
                       {"product_id", Text(p.productId)},
                       {"manufacturer", Text(p.manufacturer)},
                       {"product", Text(p.product)},
                       {"serial", Text(p.serialNumber)},
                       {"description", Text(p.description)},
                       {"state", Text(StateText(p.state))},
                       {"holder", Text(p.state.holder)},
                       {"group", Text(p.state.group)}});
    }
    out << "]\n";
    return;
  }
  std::vector<std::vector<std::string>> rows = {
      {"PORT", "STATE", "USB ID", "DESCRIPTION", "SERIAL", "BY-ID"}};
  for (const PortDetails& p : ports) {
    const std::string usb = p.vendorId.empty() ? "" : p.vendorId + ":" + p.productId;
    std::string what = p.description;
    if (what.empty())
      what = p.manufacturer + (p.manufacturer.empty() || p.product.empty() ? "" : " ") + p.product;
    rows.push_back({p.name, StateText(p.state), Or(usb, "-"), Or(what, "-"),
                    Or(p.serialNumber, "-"), Or(p.byId, "-")});
  }
  std::vector<std::size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size(); ++c)
      widths[c] = std::max(widths[c], row[c].size());
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c)
      line += row[c] + (c + 1 < row.size() ? std::string(widths[c] - row[c].size() + 2, ' ') : "");
    out << line << "\n";
  }
}

int List(const Options& options, System& system, Streams streams) {
  if (options.longList) {
    PrintDetails(system.describePorts(), options.json, streams.out);
    return EXIT_OK;
  }
  // The short list is the free part of the long one: the two never disagree.
  const std::vector<PortDetails> all = system.describePorts();
  const std::vector<std::string> ports = FreePorts(all);
  if (options.json) {
    streams.out << '[';
    for (std::size_t i = 0; i < ports.size(); ++i) {
      streams.out << (i ? "," : "");
      JsonString(streams.out, ports[i]);
    }
    streams.out << "]\n";
  } else {
    for (const std::string& port : ports)
      streams.out << port << "\n";
  }
  if (!ports.empty())
    return EXIT_OK;
  // Ports that exist but cannot be used: say which and why, with each fix once.
  if (all.empty())
    return EXIT_OK;
  streams.err << "No serial port can be opened:\n";
  std::set<std::string> hints;
  for (const PortDetails& p : all) {
    streams.err << "  " << p.name << ": " << StateText(p.state) << "\n";
    hints.insert(Hint(p.state));
  }
  for (const std::string& hint : hints) {
    if (!hint.empty())
      streams.err << hint << "\n";
  }
  return EXIT_OK;
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
  if (options.json)
    streams.out << '[';
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const PortResult& r = results[i];
    if (r.status == EXIT_OK)
      status = EXIT_OK;
    if (options.json) {
      streams.out << sep;
      sep = ",";
      if (r.status == EXIT_OK)
        JsonReport(r.report, streams.out);
      else
        JsonFailure(&ports[i], r.failure, streams.out);
    } else if (r.status == EXIT_OK) {
      streams.out << sep;
      sep = "\n";
      PrintReport(r.report, false, streams.out);
    }
  }
  if (options.json)
    streams.out << "]\n";
  // The ports without an interface, one line each, after the reports.
  for (std::size_t i = 0; i < ports.size() && !options.json; ++i) {
    if (results[i].status != EXIT_OK)
      streams.out << ports[i] << ": " << results[i].failure.verdict << "\n";
  }
  if (ports.empty())
    streams.err << "valdrix-config: find: no serial port can be opened (see valdrix-config list)\n";
  return status;
}

}  // namespace

int StatusFor(const Outcome& outcome) {
  switch (outcome.kind) {
    case Outcome::Kind::CouldNotOpen:
      return EXIT_CANNOT_OPEN;
    case Outcome::Kind::CouldNotWrite:
      return EXIT_CANNOT_WRITE;
    case Outcome::Kind::NothingAnswered:
      return EXIT_NOT_FOUND;
    default:
      return EXIT_OK;
  }
}

Failure Explain(const std::string& port, const Outcome& outcome) {
  switch (outcome.kind) {
    case Outcome::Kind::CouldNotOpen:
      return {ErrorText(PATTERN_OPEN, port) + ": " + StateText(outcome.openError),
              Hint(outcome.openError), ReasonFor(outcome.openError.problem),
              StateText(outcome.openError)};
    case Outcome::Kind::CouldNotWrite:
      return {ErrorText(PATTERN_WRITE, port), "", "write", "could not write"};
    default:
      return {ErrorText(PATTERN_NOT_FOUND, port), "", "not-found", "no answer at any rate"};
  }
}

void PrintReport(const Report& r, bool json, std::ostream& out) {
  if (json) {
    JsonReport(r, out);
    out << "\n";
    return;
  }
  const auto line = [&out](const char* name, const std::string& value) {
    out << name << Or(value, "-") << "\n";
  };
  line("port:                ", r.port);
  line("rate:                ", r.rate);
  line("version:             ", r.version);
  line("XpressNet address:   ", r.address);
  line("module base address: ", r.base);
  line("16-bit modules:      ", r.modules16);
  line("8-bit modules:       ", r.modules8);
}

int Run(const Options& options, System& system, Streams streams) {
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
  if (r.status != EXIT_OK && options.json) {
    JsonFailure(nullptr, r.failure, streams.out);
    streams.out << "\n";
    return r.status;
  }
  if (r.searched)
    PrintReport(r.report, options.json, streams.out);
  if (r.status != EXIT_OK)
    PrintFailure(r.failure, streams.err);
  return r.status;
}

}  // namespace valdrix::cli
