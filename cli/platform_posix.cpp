#include <unistd.h>

#include <filesystem>
#include <thread>

#include "cli/platform.h"
#include "network/network.h"
#include "serial/serial_posix.h"

namespace valdrix::cli {

std::unique_ptr<SerialBackend> MakePlatformSerial() {
  return MakeRoutingSerial(MakePosixSerial());
}

std::vector<PortDetails> DescribePlatformPorts() {
  return DescribePorts();
}

std::string PortIdentity(const std::string& name) {
  std::error_code ignored;
  const std::filesystem::path real = std::filesystem::canonical(name, ignored);
  return ignored ? name : real.string();
}

bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

void InParallel(std::size_t count, const std::function<void(std::size_t)>& work) {
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < count; ++i)
    threads.emplace_back(work, i);
  for (std::thread& t : threads)
    t.join();
}

}  // namespace valdrix::cli
