#include "platform/crash_signal.h"

#include <signal.h>

#include <array>
#include <atomic>
#include <mutex>

namespace platform {
namespace {

constexpr std::array<int, 5> kCrashSignals = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

std::atomic<CrashHandler> crashHandler{nullptr};

// A stack of its own for the handler, so that a stack overflow can still
// be reported.
std::array<char, 64 * 1024> handlerStack{};

void OnCrashSignal(int signalNumber) {
  if (const CrashHandler handler = crashHandler.load()) handler();
  // SA_RESETHAND restored the default action: raising again ends the
  // process with the original signal once the handler returns.
  ::raise(signalNumber);
}

}  // namespace

void InstallCrashSignalHandler(CrashHandler handler) {
  static std::once_flag once;
  std::call_once(once, [handler] {
    crashHandler.store(handler);
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) != 0) {
      stack_t own{};
      own.ss_sp = handlerStack.data();
      own.ss_size = handlerStack.size();
      ::sigaltstack(&own, nullptr);
    }
    struct sigaction action{};
    action.sa_handler = OnCrashSignal;
    action.sa_flags = SA_RESETHAND | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : kCrashSignals) ::sigaction(signalNumber, &action, nullptr);
  });
}

}  // namespace platform
