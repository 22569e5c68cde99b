// What differs between the command line on POSIX and on Windows; one source file per platform.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ports/port_details.h"
#include "serial/serial_port.h"

namespace valdrix::cli {

std::unique_ptr<SerialBackend> MakePlatformSerial();
std::vector<PortDetails> DescribePlatformPorts();
bool StderrIsTerminal();
// The device a port name stands for: the file a link leads to, or the COM name without \\.\.
std::string PortIdentity(const std::string& name);
// Runs work(0) ... work(count - 1), each in a thread of its own, and waits for all of them.
void InParallel(std::size_t count, const std::function<void(std::size_t)>& work);

}  // namespace valdrix::cli
