#include <windows.h>
// After <windows.h>.
#include <ctype.h>
#include <io.h>
#include <stdio.h>

#include "cli/platform.h"
#include "network/network.h"
#include "serial/hold.h"
#include "serial/serial_win32.h"

namespace valdrix::cli {

// COM names go to the backend as given; it opens them through the device namespace itself.
std::unique_ptr<SerialBackend> MakePlatformSerial() {
  return MakeRoutingSerial(MakeWin32Serial());
}

std::vector<PortDetails> DescribePlatformPorts() {
  return DescribePorts(ProbeComPort);
}

std::string PortIdentity(const std::string& name) {
  std::string id = name.compare(0, 4, "\\\\.\\") == 0 ? name.substr(4) : name;
  for (char& c : id)
    c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return id;
}

bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

namespace {

struct Job {
  const std::function<void(std::size_t)>* work;
  std::size_t index;
};

DWORD WINAPI RunJob(LPVOID param) {
  const Job* job = static_cast<const Job*>(param);
  (*job->work)(job->index);
  return 0;
}

}  // namespace

// The cross compiler's win32 thread model has no std::thread: the kernel's threads do it.
void InParallel(std::size_t count, const std::function<void(std::size_t)>& work) {
  std::vector<Job> jobs(count);
  std::vector<HANDLE> threads;
  for (std::size_t i = 0; i < count; ++i) {
    jobs[i] = {&work, i};
    const HANDLE thread = CreateThread(nullptr, 0, RunJob, &jobs[i], 0, nullptr);
    if (thread)
      threads.push_back(thread);
    else
      work(i);  // no thread to be had: this one runs here
  }
  for (const HANDLE thread : threads) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
}

}  // namespace valdrix::cli
