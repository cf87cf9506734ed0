#include "app/crash.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "platform/crash_signal.h"

namespace app {
namespace {

// The armed report, written only by ArmCrashReport while no crash is being
// handled; the handler reads it after seeing armed set.
std::array<std::uint8_t, kReportPacketBytes> crashPacket{};
ReportServer crashServer;
std::atomic<bool> crashArmed{false};
std::atomic<bool> crashHandled{false};

}  // namespace

void InstallCrashHandler() { platform::InstallCrashSignalHandler(&HandleCrash); }

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
