#include "network/telnet.h"

namespace valdrix::telnet {
namespace {

void Command(std::vector<std::uint8_t>& out, std::uint8_t verb, std::uint8_t option) {
  out.insert(out.end(), {IAC, verb, option});
}

void ComPort(std::vector<std::uint8_t>& out, std::uint8_t command, const std::uint8_t* value,
             std::size_t length) {
  out.insert(out.end(), {IAC, SB, OPT_COM_PORT, command});
  AppendData(out, value, length);
  out.insert(out.end(), {IAC, SE});
}

void ComPortByte(std::vector<std::uint8_t>& out, std::uint8_t command, std::uint8_t value) {
  ComPort(out, command, &value, 1);
}

void ComPortRate(std::vector<std::uint8_t>& out, std::uint32_t rate) {
  const std::uint8_t value[] = {
      static_cast<std::uint8_t>(rate >> 24), static_cast<std::uint8_t>(rate >> 16),
      static_cast<std::uint8_t>(rate >> 8), static_cast<std::uint8_t>(rate)};
  ComPort(out, SET_BAUDRATE, value, sizeof value);
}

}  // namespace

Event Decoder::Feed(std::uint8_t byte) {
  switch (state_) {
    case State::Data:
      if (byte == IAC) {
        state_ = State::Iac;
        return {};
      }
      return {Event::Kind::Data, byte, 0};
    case State::Iac:
      state_ = State::Data;
      if (byte == IAC)
        return {Event::Kind::Data, IAC, 0};
      if (byte >= WILL && byte <= DONT) {
        verb_ = byte;
        state_ = State::Verb;
      } else if (byte == SB) {
        state_ = State::SbOption;
      }
      return {};
    case State::Verb:
      state_ = State::Data;
      return {Event::Kind::Command, verb_, byte};
    case State::SbOption:
      option_ = byte;
      length_ = 0;
      state_ = State::Sb;
      return {};
    case State::Sb:
      if (byte == IAC)
        state_ = State::SbIac;
      else
        Store(byte);
      return {};
    case State::SbIac:
      if (byte == IAC) {
        Store(IAC);
        state_ = State::Sb;
        return {};
      }
      if (byte == SE) {
        state_ = State::Data;
        return {Event::Kind::Subnegotiation, 0, option_};
      }
      // A command inside a subnegotiation ends it unfinished; the command itself still counts.
      state_ = State::Iac;
      return Feed(byte);
  }
  return {};
}

void Decoder::Store(std::uint8_t byte) {
  if (length_ < SUBNEGOTIATION_MAX)  // the rest of a longer one is dropped
    payload_[length_++] = byte;
}

void AppendData(std::vector<std::uint8_t>& out, const std::uint8_t* data, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    out.push_back(data[i]);
    if (data[i] == IAC)
      out.push_back(IAC);
  }
}

std::vector<std::uint8_t> ComPortClient::Hello(std::uint32_t rate) {
  std::vector<std::uint8_t> out;
  Command(out, WILL, OPT_COM_PORT);
  for (const std::uint8_t option : {OPT_BINARY, OPT_SGA}) {
    Command(out, WILL, option);
    Command(out, DO, option);
  }
  ComPortRate(out, rate);
  ++ratesAsked_;
  asked_ = rate;
  ComPortByte(out, SET_DATASIZE, 8);
  ComPortByte(out, SET_PARITY, 1);    // none
  ComPortByte(out, SET_STOPSIZE, 1);  // one
  ComPortByte(out, SET_CONTROL, 3);   // hardware flow control
  ComPortByte(out, SET_CONTROL, 8);   // DTR on
  return out;
}

std::vector<std::uint8_t> ComPortClient::SetRate(std::uint32_t rate) {
  std::vector<std::uint8_t> out;
  ComPortRate(out, rate);
  ++ratesAsked_;
  asked_ = rate;
  confirmed_ = 0;
  gaveUp_ = false;
  return out;
}

bool ComPortClient::Receive(const std::uint8_t* bytes, std::size_t length,
                            std::vector<std::uint8_t>& data, std::vector<std::uint8_t>& replies) {
  bool stale = false;
  for (std::size_t i = 0; i < length; ++i) {
    const Event event = decoder_.Feed(bytes[i]);
    switch (event.kind) {
      case Event::Kind::Data:
        data.push_back(event.value);
        break;
      case Event::Kind::Command: {
        // What we offered or asked for needs no answer; anything else is refused, and a refusal
        // of something already off is not answered, so that no two sides loop.
        const bool ours =
            event.option == OPT_BINARY || event.option == OPT_SGA ||
            (event.option == OPT_COM_PORT && (event.value == DO || event.value == DONT));
        if (event.option == OPT_COM_PORT && event.value == DO)
          accepted_ = true;
        if (event.option == OPT_COM_PORT && event.value == DONT)
          refused_ = true;
        if (!ours && event.value == WILL)
          Command(replies, DONT, event.option);
        if (!ours && event.value == DO)
          Command(replies, WONT, event.option);
        break;
      }
      case Event::Kind::Subnegotiation:
        if (event.option == OPT_COM_PORT && decoder_.PayloadLength() > 0 &&
            decoder_.Payload()[0] == SERVER_OFFSET + SET_BAUDRATE &&
            ratesConfirmed_ < ratesAsked_ && ++ratesConfirmed_ == ratesAsked_) {
          const std::uint8_t* p = decoder_.Payload();
          const std::uint32_t said =
              decoder_.PayloadLength() < 5
                  ? 0
                  : std::uint32_t{p[1]} << 24 | p[2] << 16 | p[3] << 8 | p[4];
          confirmed_ = said ? said : asked_;
          data.clear();
          stale = true;
        }
        break;
      case Event::Kind::None:
        break;
    }
  }
  return stale;
}

}  // namespace valdrix::telnet
