// The conversations with the interface and what lives for the whole run of the program. Each
// conversation opens the port, exchanges its frames, closes the port and tells the user itself
// (status line, error boxes), then reports how it ended: the window ignores that, the command line
// turns it into its exit status.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dialog/dialog.h"
#include "serial/serial_port.h"

namespace valdrix {

struct Configurator {
  Configurator(Dialog& d, SerialBackend& s) : dialog(d), serial(s) {}

  Dialog& dialog;
  SerialBackend& serial;
  // Set once the open frame went out; tells the close whether there is anything to close.
  bool interfaceOpen = false;
  // Told each rate as the search starts trying it, for progress shown outside the dialog.
  std::function<void(std::uint32_t rate)> tryingRate;
  // Told the rate that answered, before the values are read.
  std::function<void(std::uint32_t rate)> foundAt;
  // Told each value whose frame Apply got out (SUB_XN_ADDRESS, ...), for a caller that must say
  // what reached the interface when the writes are cut short.
  std::function<void(std::uint8_t sub)> wrote;
  // 0: the search tries every line rate in turn. Otherwise only this one, for a caller that
  // already knows the interface's rate (the command line's --rate); the window never sets it.
  std::uint32_t onlyRate = 0;
  // A signal asked the program to stop: the close's drain ends after one read's time, as an
  // interface that streams without end would hold the program for the drain's whole bound.
  bool stopping = false;
};

// The four values an interface keeps, as a search read them or as a user asks for them; empty: not
// reported (or not asked for). Read values are the interface's own, whether or not a field of the
// dialog can show them.
struct Settings {
  std::optional<int> address;
  std::optional<int> base;
  std::optional<int> modules16;
  std::optional<int> modules8;
};

// How a conversation ended.
struct Outcome {
  enum class Kind {
    Done,             // the writes or the close went out (or there was nothing to close)
    Found,            // the search found the interface, at rate
    NothingAnswered,  // no answer at any rate
    CouldNotOpen,     // the port did not open
    CouldNotWrite,    // a write failed
  };
  Outcome(Kind k = Kind::Done, std::uint32_t r = 0, PortError why = {})
      : kind(k), rate(r), openError(std::move(why)) {}

  Kind kind;
  std::uint32_t rate;   // Found: the rate that answered
  PortError openError;  // CouldNotOpen: why; CouldNotWrite: why, when the port said
  // Found: what the search read; version is empty when its query could not be sent.
  std::string version;
  Settings values;
  // The search: each rate the port did not take, and why ("38400: tcsetattr: ..."); never tried.
  std::vector<std::string> ratesNotSet;

  bool Failed() const { return kind != Kind::Done && kind != Kind::Found; }
};

// LINE_RATES in words, for messages: the numbers with commas between and "or" before the last.
std::string LineRatesText();
// What to check when no answer came at any of the rates tried; then each rate the port did not
// take, and why.
std::string NothingAnsweredHint(const std::string& ratesTried = LineRatesText(),
                                const std::vector<std::string>& ratesNotSet = {});

// Finds the interface on the chosen port, reads its values, shows them in the dialog and opens it.
Outcome SearchInterface(Configurator& cfg);
// Sends the address, base address and module count in the dialog to the interface.
Outcome WriteSettings(Configurator& cfg);
// Sends the close frame when the interface was opened.
Outcome CloseInterface(Configurator& cfg);

}  // namespace valdrix
