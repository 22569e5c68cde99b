// The count of requests, the first one's signal and the close stage: the same on both platforms.
#include <atomic>

#include "interrupt/interrupt.h"
#include "interrupt/wake.h"

namespace valdrix::interrupt {
namespace {

std::atomic<int> g_requests{0};
std::atomic<int> g_first{0};
thread_local bool t_closing = false;

}  // namespace

void Raise(int sig) {
  int none = 0;
  g_first.compare_exchange_strong(none, sig);
  WakeWaits(g_requests.fetch_add(1) + 1);
}

int Signal() {
  return g_first.load();
}

int StopsAt() {
  return t_closing ? 2 : 1;
}

bool Requested() {
  return g_requests.load() >= StopsAt();
}

CloseStage::CloseStage() {
  t_closing = true;
}
CloseStage::~CloseStage() {
  t_closing = false;
}

}  // namespace valdrix::interrupt
