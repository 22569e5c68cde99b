// Wall and CPU time of each conversation through the POSIX backend against valdrix-sim, the way
// the command line runs them: a search that finds the interface at each of the five rates, an
// Apply with all three frames and a close. Prints one JSON object with every sample; run.sh
// turns the samples into medians, floors and ratios.
//
// Usage: valdrix_bench_conversations [runs]   (default 5)
#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "conversations/config_dialog.h"
#include "conversations/configurator.h"
#include "dialog/controls.h"
#include "dialog/memory_dialog.h"
#include "harness/sim_process.h"
#include "protocol/frames.h"
#include "serial/serial_port.h"
#include "serial/serial_posix.h"

namespace {

using namespace valdrix;

// The interface answers at once: what is left over the time-outs is all ours.
constexpr char kReplyDelay[] = "0";
constexpr std::uint32_t kApplyRate = 57600;

struct Sample {
  double wallMs;
  double cpuMs;
};

struct Series {
  std::string name;
  int silentReads;  // 4-byte reads that get nothing: TotalTimeoutMs(4) each
  int drains;       // drains: each ends with a 1-byte read that gets nothing, TotalTimeoutMs(1)
  std::vector<Sample> samples;
  std::vector<std::string> faults;
};

double MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

double CpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

template <typename F>
Sample Time(F&& conversation) {
  const double cpu0 = CpuMs();
  const double wall0 = MonotonicMs();
  conversation();
  const double wall1 = MonotonicMs();
  const double cpu1 = CpuMs();
  return {wall1 - wall0, cpu1 - cpu0};
}

// One dialog and its state, as the command line holds them for one port.
struct Session {
  MemoryDialog dialog;
  PosixSerial serial;
  Configurator cfg{dialog, serial};

  explicit Session(const std::string& port) {
    FillLists(dialog, {port});
    dialog.Choose(IDC_PORT, port);  // no command handler: the search is run and timed by hand
  }
};

void Expect(Series& series, bool ok, const std::string& what) {
  if (!ok)
    series.faults.push_back(what);
}

std::string Json(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\')
      out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--limits") {
    // The floors and the size limit as the code has them, for the Python half of the bench.
    std::printf("{\"silent_read_ms\": %llu, \"drain_ms\": %llu, \"exe_max_bytes\": %d}\n",
                static_cast<unsigned long long>(TotalTimeoutMs(FRAME_LENGTH)),
                static_cast<unsigned long long>(TotalTimeoutMs(1)), VALDRIX_EXE_MAX_BYTES);
    return 0;
  }
  const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  if (runs < 1) {
    std::fprintf(stderr, "usage: %s [runs | --limits]\n", argv[0]);
    return 2;
  }

  // One simulator per rate, each answering only at its own.
  std::vector<std::unique_ptr<SimProcess>> sims;
  for (const std::uint32_t rate : LINE_RATES) {
    sims.push_back(std::make_unique<SimProcess>(
        std::vector<std::string>{"--rate", std::to_string(rate), "--reply-delay", kReplyDelay}));
    if (sims.back()->Path().empty()) {
      std::fprintf(stderr, "valdrix-sim did not start\n");
      return 2;
    }
  }

  std::vector<Series> searches;
  for (std::size_t k = 0; k < std::size(LINE_RATES); ++k)
    searches.push_back({"search@" + std::to_string(LINE_RATES[k]), static_cast<int>(k), 1, {}, {}});
  Series apply{"apply", 0, 3, {}, {}};
  Series close{"close", 0, 1, {}, {}};

  std::string lastBase;  // what the previous Apply wrote, read back by this run's search
  for (int run = 0; run < runs; ++run) {
    for (std::size_t k = 0; k < std::size(LINE_RATES); ++k) {
      const std::string rate = std::to_string(LINE_RATES[k]);
      Session s(sims[k]->Path());
      Outcome found;
      searches[k].samples.push_back(Time([&] { found = SearchInterface(s.cfg); }));
      Expect(searches[k], found.kind == Outcome::Kind::Found && found.rate == LINE_RATES[k],
             "not found at " + rate);
      Expect(searches[k], s.dialog.Text(IDC_STATUS) == STATUS_ENTER_VALUES,
             "status " + s.dialog.Text(IDC_STATUS));
      Expect(searches[k], s.dialog.CurrentEntry(IDC_RATE) == rate,
             "rate " + s.dialog.CurrentEntry(IDC_RATE));
      Expect(searches[k], s.cfg.interfaceOpen, "interface not opened");
      if (LINE_RATES[k] != kApplyRate)
        continue;

      // Apply with all three frames and new values, then the close, on the same dialog.
      if (!lastBase.empty())
        Expect(apply, s.dialog.Text(IDC_BASE_ADDRESS) == lastBase, "base not written");
      lastBase = std::to_string(10 + run);
      s.dialog.SelectEntry(IDC_XN_ADDRESS, std::to_string(2 + run % 20));
      s.dialog.SetText(IDC_BASE_ADDRESS, lastBase);
      s.dialog.SetText(IDC_MODULES16, "3");
      s.dialog.SetText(IDC_MODULES8, "1");
      Outcome written;
      apply.samples.push_back(Time([&] { written = WriteSettings(s.cfg); }));
      Expect(apply, written.kind == Outcome::Kind::Done, "a frame was not written");
      Expect(apply, s.dialog.Text(IDC_STATUS) == STATUS_ENTER_VALUES,
             "status " + s.dialog.Text(IDC_STATUS));

      // The search opened the interface, so Done means the close frame went out.
      Outcome closed;
      close.samples.push_back(Time([&] { closed = CloseInterface(s.cfg); }));
      Expect(close, closed.kind == Outcome::Kind::Done, "the close frame did not go out");
    }
  }

  std::vector<Series> all = searches;
  all.push_back(apply);
  all.push_back(close);
  std::printf("{\"reply_delay_ms\":%s,\"runs\":%d,\"conversations\":[", kReplyDelay, runs);
  for (std::size_t i = 0; i < all.size(); ++i) {
    const Series& series = all[i];
    std::printf("%s{\"name\":%s,\"silent_reads\":%d,\"drains\":%d,\"wall_ms\":[", i ? "," : "",
                Json(series.name).c_str(), series.silentReads, series.drains);
    for (std::size_t j = 0; j < series.samples.size(); ++j)
      std::printf("%s%.3f", j ? "," : "", series.samples[j].wallMs);
    std::printf("],\"cpu_ms\":[");
    for (std::size_t j = 0; j < series.samples.size(); ++j)
      std::printf("%s%.3f", j ? "," : "", series.samples[j].cpuMs);
    std::printf("],\"faults\":[");
    for (std::size_t j = 0; j < series.faults.size(); ++j)
      std::printf("%s%s", j ? "," : "", Json(series.faults[j]).c_str());
    std::printf("]}");
  }
  std::printf("]}\n");
  for (const Series& series : all) {
    if (!series.faults.empty())
      return 1;
  }
  return 0;
}
