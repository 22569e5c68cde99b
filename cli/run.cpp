#include <cstdio>
#include <ostream>

#include "cli/cli.h"
#include "conversations/config_dialog.h"
#include "conversations/configurator.h"
#include "dialog/controls.h"
#include "dialog/memory_dialog.h"
#include "protocol/text.h"

namespace valdrix::cli {
namespace {

// The model dialog, telling a watcher each new status text and each rate the search tries.
class ProgressDialog : public MemoryDialog {
 public:
  explicit ProgressDialog(std::ostream* progress) : progress_(progress) {}

  void SetText(int id, const std::string& text) override {
    const bool changed = id == IDC_STATUS && Text(IDC_STATUS) != text;
    MemoryDialog::SetText(id, text);
    if (changed && progress_)
      *progress_ << text << std::endl;
  }

  void SelectEntry(int id, const std::string& text) override {
    MemoryDialog::SelectEntry(id, text);
    if (id == IDC_RATE && progress_ && Text(IDC_STATUS) == STATUS_SEARCHING)
      *progress_ << "  trying " << text << std::endl;
  }

 private:
  std::ostream* progress_;
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

// A number field as JSON: its decimal value, or null when the interface did not report it.
void JsonNumber(std::ostream& out, const std::string& text) {
  if (text.empty())
    out << "null";
  else
    out << ParseDecimal(text);
}

Report ReadReport(MemoryDialog& dialog, const std::string& port) {
  Report r;
  r.port = port;
  r.rate = dialog.CurrentEntry(IDC_RATE);
  r.version = dialog.Text(IDC_VERSION);
  r.address = dialog.CurrentEntry(IDC_XN_ADDRESS);
  r.base = dialog.Text(IDC_BASE_ADDRESS);
  r.modules16 = dialog.Text(IDC_MODULES16);
  r.modules8 = dialog.Text(IDC_MODULES8);
  return r;
}

// Puts one option's value into its field as a user would; false when the field is disabled
// because the interface did not report that value.
bool Enter(MemoryDialog& dialog, int id, const char* option, const std::optional<int>& value,
           std::ostream& err) {
  if (!value)
    return true;
  const std::string text = DecimalText(*value);
  const bool taken = id == IDC_XN_ADDRESS ? dialog.Choose(id, text) : dialog.Type(id, text);
  if (!taken) {
    err << "valdrix-config: " << option
        << ": the interface did not report this value, so it cannot be set\n";
  }
  return taken;
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

void PrintReport(const Report& r, bool json, std::ostream& out) {
  if (json) {
    out << "{\"port\":";
    JsonString(out, r.port);
    out << ",\"rate\":";
    JsonNumber(out, r.rate);
    out << ",\"version\":";
    if (r.version.empty())
      out << "null";
    else
      JsonString(out, r.version);
    out << ",\"address\":";
    JsonNumber(out, r.address);
    out << ",\"base\":";
    JsonNumber(out, r.base);
    out << ",\"modules16\":";
    JsonNumber(out, r.modules16);
    out << ",\"modules8\":";
    JsonNumber(out, r.modules8);
    out << "}\n";
    return;
  }
  const auto line = [&out](const char* name, const std::string& value) {
    out << name << (value.empty() ? "-" : value) << "\n";
  };
  line("port:                ", r.port);
  line("rate:                ", r.rate);
  line("version:             ", r.version);
  line("XpressNet address:   ", r.address);
  line("module base address: ", r.base);
  line("16-bit modules:      ", r.modules16);
  line("8-bit modules:       ", r.modules8);
}

void PrintPorts(const std::vector<std::string>& ports, bool json, std::ostream& out) {
  if (!json) {
    for (const std::string& port : ports)
      out << port << "\n";
    return;
  }
  out << '[';
  for (std::size_t i = 0; i < ports.size(); ++i) {
    if (i)
      out << ',';
    JsonString(out, ports[i]);
  }
  out << "]\n";
}

int Run(const Options& options, SerialBackend& backend, Streams streams) {
  if (options.command == Command::List) {
    PrintPorts(backend.EnumeratePorts(), options.json, streams.out);
    return EXIT_OK;
  }

  ProgressDialog dialog(streams.progress);
  Configurator cfg(dialog, backend);
  int status = EXIT_OK;
  // The first conversation that fails decides the exit status.
  const auto ended = [&status](const Outcome& outcome) {
    if (status == EXIT_OK)
      status = StatusFor(outcome);
  };
  dialog.SetCommandHandler([&](int id, int code) { ended(OnCommand(cfg, id, code)); });
  dialog.onErrorBox = [&](const std::string& text) { streams.err << text << std::endl; };
  // Only the port asked for is listed, so any name or path works without enumerating.
  FillLists(dialog, {options.port});
  dialog.Choose(IDC_PORT, options.port);

  if (status == EXIT_OK && options.command == Command::Set) {
    const bool entered =
        Enter(dialog, IDC_XN_ADDRESS, "--address", options.address, streams.err) &&
        Enter(dialog, IDC_BASE_ADDRESS, "--base", options.base, streams.err) &&
        Enter(dialog, IDC_MODULES16, "--modules16", options.modules16, streams.err) &&
        Enter(dialog, IDC_MODULES8, "--modules8", options.modules8, streams.err);
    // One count given with the other as read back: the byte must still stay below 255.
    const long count = 2L * ParseDecimal(dialog.EditText(IDC_MODULES16)) +
                       ParseDecimal(dialog.EditText(IDC_MODULES8));
    if (!entered) {
      status = EXIT_CANNOT_WRITE;
    } else if ((options.modules16 || options.modules8) && count >= 255) {
      streams.err << "valdrix-config: " << (options.modules16 ? "--modules16" : "--modules8")
                  << ": with the other count as read, the module count would be " << count
                  << " (255 or more); nothing was written\n";
      status = EXIT_USAGE;
    } else {
      dialog.Press(IDOK);  // writes, then searches again to read back
    }
  }
  if (status == EXIT_OK)
    PrintReport(ReadReport(dialog, options.port), options.json, streams.out);
  // As the dialog's Close does: closes the interface if the search opened it.
  ended(OnClose(cfg));
  return status;
}

}  // namespace valdrix::cli
