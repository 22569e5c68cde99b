#include <algorithm>
#include <set>

#include "cli/failure.h"
#include "cli/json.h"
#include "cli/list.h"
#include "ports/port_advice.h"

namespace valdrix::cli {
namespace {

std::string Or(const std::string& text, const std::string& otherwise) {
  return text.empty() ? otherwise : text;
}

void PrintDetails(const std::vector<PortDetails>& ports, bool json, std::ostream& out) {
  if (json) {
    PrintJson(DetailsJson(ports), out);
    return;
  }
  std::vector<std::vector<std::string>> rows = {
      {"PORT", "STATE", "USB ID", "DESCRIPTION", "SERIAL", "BY-ID"}};
  for (const PortDetails& p : ports) {
    const std::string usb = p.vendorId.empty() ? "" : p.vendorId + ":" + p.productId;
    rows.push_back({p.name, StateText(p.state), Or(usb, "-"), Or(WhatItIs(p), "-"),
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

}  // namespace

int List(const Options& options, System& system, Streams streams) {
  if (options.longList) {
    PrintDetails(system.describePorts(), options.json, streams.out);
    return EXIT_OK;
  }
  // The short list is the free part of the long one: the two never disagree.
  const std::vector<PortDetails> all = system.describePorts();
  const std::vector<std::string> ports = FreePorts(all);
  if (options.json) {
    PrintJson(Json(ports), streams.out);
  } else {
    for (const std::string& port : ports)
      streams.out << port << "\n";
  }
  if (!ports.empty())
    return EXIT_OK;
  // Ports that exist but cannot be used: say which and why, with each fix once.
  if (all.empty())
    return EXIT_OK;
  streams.err << SELF << "no serial port can be opened:\n";
  std::set<std::string> hints;
  for (const PortDetails& p : all) {
    streams.err << "  " << p.name << ": " << StateText(p.state) << "\n";
    hints.insert(Hint(p.state));
  }
  // The console alone is what a machine shows with no adapter plugged in: that fix comes first.
  if (std::all_of(all.begin(), all.end(),
                  [](const PortDetails& p) { return p.state.problem == PortProblem::Console; }))
    streams.err << "Plug in the adapter that the interface hangs on: its port then shows here. "
                   "Only to use the console's own port:\n";
  for (const std::string& hint : hints) {
    if (!hint.empty())
      streams.err << hint << "\n";
  }
  return EXIT_OK;
}

}  // namespace valdrix::cli
