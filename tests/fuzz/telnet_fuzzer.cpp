// Any byte stream a server may send to the network port's Telnet layer: no crash, no unbounded
// memory, and the same data and answers whether it arrives in one piece, byte by byte or cut at
// the place its first byte names.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "network/telnet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using valdrix::telnet::ComPortClient;
  std::vector<std::uint8_t> outData[3], replies[3];
  ComPortClient clients[3];
  for (ComPortClient& c : clients)
    c.Hello(115200);
  clients[0].Receive(data, size, outData[0], replies[0]);
  for (std::size_t i = 0; i < size; ++i)
    clients[1].Receive(data + i, 1, outData[1], replies[1]);
  const std::size_t cut = size ? data[0] % (size + 1) : 0;
  clients[2].Receive(data, cut, outData[2], replies[2]);
  clients[2].Receive(data + cut, size - cut, outData[2], replies[2]);
  for (int k = 1; k < 3; ++k) {
    if (outData[k] != outData[0] || replies[k] != replies[0] ||
        clients[k].Accepted() != clients[0].Accepted() ||
        clients[k].RateAwaited() != clients[0].RateAwaited())
      std::abort();
  }
  // Each byte yields at most one data byte; each answer stands for a three-byte command.
  if (outData[0].size() > size || replies[0].size() > size)
    std::abort();
  return 0;
}
