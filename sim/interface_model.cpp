#include "sim/interface_model.h"

#include "protocol/frames.h"

namespace valdrix {

InterfaceModel::InterfaceModel(InterfaceSettings settings, InterfaceFaults faults)
    : settings_(settings), faults_(std::move(faults)) {}

std::vector<std::uint8_t> InterfaceModel::Receive(const std::uint8_t* bytes, std::size_t length,
                                                  std::uint32_t lineRate) {
  std::vector<std::uint8_t> out;
  if (lineRate != settings_.rate) {
    deframer_.Clear();
    return out;
  }
  deframer_.Add(bytes, length, [&](const std::uint8_t* f, std::size_t n, bool frame) {
    if (!frame)
      return;
    if (n == INTERFACE_QUERY_LENGTH)
      Reply(HDR_INTERFACE_REPLY, 0x10, settings_.version, out);
    else
      Answer(f[1], f[2], out);
  });
  if (faults_.silent)
    out.clear();
  return out;
}

void InterfaceModel::Answer(std::uint8_t sub, std::uint8_t value, std::vector<std::uint8_t>& out) {
  std::uint8_t* stored = nullptr;
  switch (sub) {
    case SUB_VERSION:
      if (faults_.noReplyTo != sub)
        Reply(HDR_CONFIG, sub, settings_.version, out);
      return;
    case SUB_OPEN:
      // Acknowledged by repeating the frame; the configurator drains it unread.
      open_ = value != 0;
      if (open_ && faults_.streamAfterOpen)
        streaming_ = true;
      Reply(HDR_CONFIG, sub, value, out);
      return;
    case SUB_XN_ADDRESS:
      stored = &settings_.address;
      break;
    case SUB_BASE_ADDRESS:
      stored = &settings_.base;
      break;
    case SUB_MODULE_COUNT:
      stored = &settings_.count;
      break;
    default:
      return;  // unknown sub-commands are ignored
  }
  if (value == VALUE_QUERY) {
    if (faults_.noReplyTo != sub)
      Reply(HDR_CONFIG, sub, *stored, out);
    return;
  }
  *stored = value;
  Reply(HDR_CONFIG, sub, value, out);
}

void InterfaceModel::Reply(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2,
                           std::vector<std::uint8_t>& out) {
  const auto forced = faults_.forcedValue.find(b1);
  if (b0 == HDR_CONFIG && forced != faults_.forcedValue.end())
    b2 = forced->second;
  const std::uint8_t frame[3] = {b0, b1, b2};
  std::uint8_t check = CheckByte(frame, 3);
  if (faults_.badCheck)
    check ^= 0xFF;
  out.insert(out.end(), {b0, b1, b2, check});
}

}  // namespace valdrix
