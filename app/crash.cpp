#include "app/crash.h"

#include <signal.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <system_error>
#include <vector>

namespace app {
namespace {

constexpr std::array<int, 5> kCrashSignals = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

// The armed report, written only by ArmCrashReport while no crash is being
// handled; the handler reads it after seeing armed set.
std::array<std::uint8_t, kReportPacketBytes> crashPacket{};
ReportServer crashServer;
std::atomic<bool> crashArmed{false};
std::atomic<bool> crashHandled{false};

// A stack of its own for the handler, so that a stack overflow can still
// be reported.
std::array<char, 64 * 1024> handlerStack{};

void OnCrashSignal(int signalNumber) {
  HandleCrash();
  // SA_RESETHAND restored the default action: raising again ends the
  // process with the original signal once the handler returns.
  ::raise(signalNumber);
}

}  // namespace

void InstallCrashHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
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

void ArmCrashReport(const std::optional<ReportServer>& server, bool consent, std::string_view machineId) {
  crashArmed.store(false);
  if (!server || !consent || machineId.empty()) return;
  const Packet packet = BuildReportPacket(kReportEvent, machineId, "Exit exception");
  std::memcpy(crashPacket.data(), packet.data(), crashPacket.size());
  crashServer = *server;
  crashArmed.store(true);
}

void HandleCrash() noexcept {
  if (crashHandled.exchange(true)) return;
  if (crashArmed.load()) SendPacket(crashServer, crashPacket.data(), crashPacket.size());
}

std::string DumpFileName(unsigned buildNumber, std::string_view brand, unsigned hour, unsigned minute) {
  std::array<char, 8> time{};
  std::snprintf(time.data(), time.size(), "%02u%02u", hour % 100, minute % 100);
  return "i" + std::to_string(buildNumber) + std::string(brand) + "3_" + time.data() + ".dmp";
}

std::string DumpReportName(const std::filesystem::path& dumpFile, std::string_view machineId) {
  const std::string stem = dumpFile.stem().string();
  const std::size_t cut = stem.size() < 4 ? 0 : stem.size() - 4;
  return stem.substr(0, cut) + std::string(machineId) + "_" + stem.substr(cut) + ".dmp";
}

bool ShipDumpFile(const std::filesystem::path& dumpFile, std::string_view machineId, CReportSender& sender) {
  bool sent = false;
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(dumpFile, ec);
  if (!ec && size > 0 && size < kMaxSentDumpBytes) {
    std::ifstream in(dumpFile, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() == size) sent = sender.SendDump(DumpReportName(dumpFile, machineId), bytes);
  }
  std::filesystem::remove(dumpFile, ec);
  return sent;
}

}  // namespace app
