// CPU time of a search that finds nothing: five rates, each a one-second silent read, through
// the POSIX backend against a silent valdrix-sim. The waiting must cost (almost) no CPU.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "conversations/config_dialog.h"
#include "conversations/configurator.h"
#include "dialog/controls.h"
#include "dialog/memory_dialog.h"
#include "harness/sim_process.h"
#include "serial/serial_posix.h"

namespace {

double CpuMs(int who, double* user = nullptr) {
  rusage usage{};
  getrusage(who, &usage);
  const double u = usage.ru_utime.tv_sec * 1000.0 + usage.ru_utime.tv_usec / 1000.0;
  const double s = usage.ru_stime.tv_sec * 1000.0 + usage.ru_stime.tv_usec / 1000.0;
  if (user)
    *user = u;
  return u + s;
}

}  // namespace

int main() {
  using namespace valdrix;
  constexpr double kTargetMs = 50.0;

  // Children waited for before an exec count too: take what is there now off the figure.
  const double childrenBefore = CpuMs(RUSAGE_CHILDREN);
  SimProcess sim({"--silent"});
  if (sim.Path().empty()) {
    std::fprintf(stderr, "valdrix-sim did not start\n");
    return 2;
  }
  MemoryDialog dialog;
  PosixSerial serial;
  Configurator cfg(dialog, serial);
  dialog.SetCommandHandler([&](int id, int code) { OnCommand(cfg, id, code); });
  FillLists(dialog, {sim.Path()});
  std::string error = "(none)";
  dialog.onErrorBox = [&](const std::string& text) { error = text; };

  double userBefore = 0;
  const double before = CpuMs(RUSAGE_SELF, &userBefore);
  const auto start = std::chrono::steady_clock::now();
  dialog.Choose(IDC_PORT, sim.Path());
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double userAfter = 0;
  const double cpu = CpuMs(RUSAGE_SELF, &userAfter) - before;
  sim.Kill(SIGTERM);
  const double simCpu = CpuMs(RUSAGE_CHILDREN) - childrenBefore;

  std::printf("search over 5 silent rates: wall %.3f s, CPU %.2f ms (user %.2f, system %.2f)\n",
              wall, cpu, userAfter - userBefore, cpu - (userAfter - userBefore));
  std::printf("valdrix-sim CPU over its whole run: %.2f ms\n", simCpu);
  std::printf("error shown: %s\n", error.c_str());
  std::printf("target: under %.0f ms of CPU: %s\n", kTargetMs, cpu < kTargetMs ? "met" : "MISSED");
  return cpu < kTargetMs ? 0 : 1;
}
