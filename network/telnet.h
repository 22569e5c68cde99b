// Telnet with the COM-PORT option, as ser2net and other network serial servers speak it: the
// byte-at-a-time decoder and the client's side of the option, with no sockets and no platform
// headers, so that any stream a server sends can be fed to it (the fuzzer does).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace valdrix::telnet {

constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr std::uint8_t OPT_BINARY = 0, OPT_SGA = 3, OPT_COM_PORT = 44;
// COM-PORT commands from the client; the server answers each with the same number + 100.
constexpr std::uint8_t SET_BAUDRATE = 1, SET_DATASIZE = 2, SET_PARITY = 3, SET_STOPSIZE = 4,
                       SET_CONTROL = 5, SERVER_OFFSET = 100;
// Longer subnegotiations are not ours: the rest of one is dropped, never stored.
constexpr std::size_t SUBNEGOTIATION_MAX = 64;

struct Event {
  enum class Kind { None, Data, Command, Subnegotiation } kind = Kind::None;
  std::uint8_t value = 0;   // Data: the byte; Command: WILL, WONT, DO or DONT
  std::uint8_t option = 0;  // Command, Subnegotiation: the option
};

// Fed one byte at a time; tells what each byte completes. IAC IAC is a data byte 0xFF; other
// commands (NOP, GA, ...) vanish.
class Decoder {
 public:
  Event Feed(std::uint8_t byte);
  // The bytes after the option of the last Subnegotiation event, IAC IAC undoubled.
  const std::uint8_t* Payload() const { return payload_; }
  std::size_t PayloadLength() const { return length_; }

 private:
  void Store(std::uint8_t byte);

  enum class State { Data, Iac, Verb, SbOption, Sb, SbIac } state_ = State::Data;
  std::uint8_t verb_ = 0;
  std::uint8_t option_ = 0;
  std::uint8_t payload_[SUBNEGOTIATION_MAX] = {};
  std::size_t length_ = 0;
};

// Appends data for the wire: 0xFF doubled.
void AppendData(std::vector<std::uint8_t>& out, const std::uint8_t* data, std::size_t length);

// The client's half of the COM-PORT option: what it sends and what it makes of the answers.
class ComPortClient {
 public:
  // The offers (COM-PORT, BINARY both ways, SUPPRESS-GO-AHEAD both ways) and the line: the rate,
  // 8N1, hardware flow control, DTR on.
  std::vector<std::uint8_t> Hello(std::uint32_t rate);
  // SET-BAUDRATE; its answer is then awaited.
  std::vector<std::uint8_t> SetRate(std::uint32_t rate);
  // Takes bytes from the server: their data goes to data, what must be answered to replies.
  // The confirmation of the last rate asked for empties data and returns true: whatever the
  // server sent before it, here or held by the caller, came at a rate no longer asked for.
  bool Receive(const std::uint8_t* bytes, std::size_t length, std::vector<std::uint8_t>& data,
               std::vector<std::uint8_t>& replies);

  bool Accepted() const { return accepted_; }  // the server does COM-PORT
  bool Refused() const { return refused_; }    // the server won't
  bool RateAwaited() const { return !gaveUp_ && ratesConfirmed_ < ratesAsked_; }
  // The rate in force as the server's confirmation of the last rate asked for gives it (the rate
  // asked for when it names none); 0 until that confirmation came.
  std::uint32_t ConfirmedRate() const { return confirmed_; }
  // How many of the rates asked for the server has confirmed, in the order asked.
  unsigned Confirmations() const { return ratesConfirmed_; }
  // Once the server has confirmed a rate, data that comes while a later one is unconfirmed was
  // sent at a rate no longer asked for.
  bool Unconfirmed() const { return ratesConfirmed_ > 0 && ratesConfirmed_ < ratesAsked_; }
  // Given up waiting: the next data goes out all the same. A late confirmation still separates
  // stale data from new.
  void StopAwaitingRate() { gaveUp_ = true; }

 private:
  Decoder decoder_;
  bool accepted_ = false;
  bool refused_ = false;
  bool gaveUp_ = false;
  unsigned ratesAsked_ = 0;
  unsigned ratesConfirmed_ = 0;
  std::uint32_t asked_ = 0;
  std::uint32_t confirmed_ = 0;
};

}  // namespace valdrix::telnet
