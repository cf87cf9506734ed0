#include "app/reports.h"

#include <charconv>
#include <cstring>

#include "platform/tcp_send.h"

namespace app {
namespace {

void PutU32(Packet& packet, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) packet[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Copies text into the field, leaving at least one NUL at its end.
void PutText(Packet& packet, std::size_t offset, std::size_t fieldBytes, std::string_view text) {
  const std::size_t size = std::min(text.size(), fieldBytes - 1);
  std::memcpy(packet.data() + offset, text.data(), size);
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

Packet BuildReportPacket(std::uint32_t code, std::string_view machineId, std::string_view text) {
  Packet packet(kReportPacketBytes, 0);
  std::memcpy(packet.data(), "ZUV ", 4);
  PutU32(packet, 4, static_cast<std::uint32_t>(kReportPacketBytes));
  packet[8] = 1;
  packet[9] = 1;
  PutU32(packet, 10, code);
  PutText(packet, 14, 65, machineId);
  PutText(packet, 79, 1025, text);
  return packet;
}

Packet BuildDumpPacket(std::string_view reportName, std::span<const std::uint8_t> dump) {
  Packet packet(kDumpHeaderBytes, 0);
  std::memcpy(packet.data(), "ZUV ", 4);
  PutU32(packet, 4, static_cast<std::uint32_t>(dump.size() + kDumpHeaderBytes));
  packet[8] = 2;
  packet[9] = 1;
  PutText(packet, 10, 64, reportName);
  packet.insert(packet.end(), dump.begin(), dump.end());
  return packet;
}

std::optional<ReportServer> ParseReportServer(std::string_view text) {
  text = Trim(text);
  ReportServer server;
  const std::size_t colon = text.find(':');
  if (colon != std::string_view::npos) {
    const std::string_view port = text.substr(colon + 1);
    unsigned value = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (error != std::errc() || end != port.data() + port.size() || value == 0 || value > 65535) return std::nullopt;
    server.port = static_cast<std::uint16_t>(value);
    text = text.substr(0, colon);
  }
  if (text.empty()) return std::nullopt;
  const std::optional<std::uint32_t> address = platform::ParseIpv4Address(text);
  if (!address) return std::nullopt;
  server.addressNetworkOrder = *address;
  return server;
}

bool SendPacket(const ReportServer& server, const std::uint8_t* bytes, std::size_t size) noexcept {
  if (size < 4) return false;
  return platform::SendOverTcp(server.addressNetworkOrder, server.port, bytes, size, kConnectTimeoutMs);
}

CReportSender::~CReportSender() { Stop(); }

void CReportSender::Configure(std::optional<ReportServer> server, bool consent, std::string machineId) {
  const std::lock_guard lock(mutex_);
  server_ = server;
  consent_ = consent;
  machineId_ = std::move(machineId);
}

bool CReportSender::Enabled() const {
  const std::lock_guard lock(mutex_);
  return server_.has_value() && consent_ && !machineId_.empty();
}

void CReportSender::Start() {
  const std::lock_guard lock(mutex_);
  if (running_) return;
  stop_ = false;
  running_ = true;
  thread_ = std::thread([this] { Run(); });
}

void CReportSender::Stop() {
  {
    const std::lock_guard lock(mutex_);
    // A second caller while the first is still draining leaves the join to it.
    if (!running_ || stop_) return;
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
  const std::lock_guard lock(mutex_);
  running_ = false;
}

void CReportSender::Run() {
  for (;;) {
    Packet packet;
    std::optional<ReportServer> server;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (queue_.empty()) return;
      packet = std::move(queue_.front());
      queue_.pop_front();
      server = server_;
    }
    // An unreachable server drops the packet: reports are best effort and
    // must never hold up the program.
    if (server) SendPacket(*server, packet.data(), packet.size());
  }
}

bool CReportSender::Report(std::uint32_t code, std::string_view text, bool queued) {
  std::unique_lock lock(mutex_);
  if (!server_ || !consent_ || machineId_.empty()) return false;
  Packet packet = BuildReportPacket(code, machineId_, text);
  if (queued) {
    if (!running_ || stop_) return false;
    queue_.push_back(std::move(packet));
    lock.unlock();
    wake_.notify_one();
    return true;
  }
  const ReportServer server = *server_;
  lock.unlock();
  return SendPacket(server, packet.data(), packet.size());
}

bool CReportSender::ReportEvent(std::string_view text) {
  return Report(kReportEvent, "IPHONE:" + std::string(text), true);
}

bool CReportSender::SendDump(std::string_view reportName, std::span<const std::uint8_t> dump) {
  std::unique_lock lock(mutex_);
  if (!server_ || !consent_ || machineId_.empty()) return false;
  const ReportServer server = *server_;
  lock.unlock();
  const Packet packet = BuildDumpPacket(reportName, dump);
  return SendPacket(server, packet.data(), packet.size());
}

CReportSender& Reporter() {
  static CReportSender sender;
  return sender;
}

bool ReportEvent(std::string_view text) { return Reporter().ReportEvent(text); }

}  // namespace app
