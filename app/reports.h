#pragma once
// Reports of the program's own starts, exits, crashes and workflow events,
// sent over TCP to a report server. Nothing leaves the machine unless the
// product configuration names a server (Base.dat, ReportServer) AND the
// user consented ("JoinImproveSoft" is "1" in registry.ini) AND the machine
// identifier is known; otherwise every report is dropped where it is made.
//
// Report packet (little-endian, 1104 bytes):
//   0   4     magic "ZUV "
//   4   4     total length, 1104
//   8   1     packet kind, 1 (event report)
//   9   1     1
//   10  4     event code
//   14  65    machine identifier, NUL-terminated (longer text is cut)
//   79  1025  event text, UTF-8, NUL-terminated (longer text is cut)
// Dump packet: "ZUV ", total length (file size + 74), kind 2, 1, at 10 the
// report name (64 bytes, NUL-padded), from 74 the dump file's bytes.
//
// Event codes: 0 the start line, 1 the exit line and fatal start-up
// failures, 27 the crash report and every workflow event.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace app {

inline constexpr std::size_t kReportPacketBytes = 1104;
inline constexpr std::size_t kDumpHeaderBytes = 74;
inline constexpr std::uint16_t kDefaultReportPort = 7000;

inline constexpr std::uint32_t kReportStart = 0;
inline constexpr std::uint32_t kReportExit = 1;
inline constexpr std::uint32_t kReportEvent = 27;

using Packet = std::vector<std::uint8_t>;

Packet BuildReportPacket(std::uint32_t code, std::string_view machineId, std::string_view text);
Packet BuildDumpPacket(std::string_view reportName, std::span<const std::uint8_t> dump);

// A report server: an IPv4 address in dotted form and a port.
struct ReportServer {
  std::uint32_t addressNetworkOrder = 0;
  std::uint16_t port = kDefaultReportPort;
};

// Parses "a.b.c.d" or "a.b.c.d:port" (blanks around ignored); nothing for
// empty text, a host name, a port of 0 or any other form.
std::optional<ReportServer> ParseReportServer(std::string_view text);

// One connection: connect (giving up after kConnectTimeoutMs), write the
// packet, close; no reply is awaited. Packets shorter than 4 bytes are not
// sent. Returns whether every byte was written. Only async-signal-safe
// calls, so the crash handler may use it.
inline constexpr int kConnectTimeoutMs = 3000;
bool SendPacket(const ReportServer& server, const std::uint8_t* bytes, std::size_t size) noexcept;

// The report sender: a first-in first-out queue served by one thread.
// All methods may be called from any thread.
class CReportSender {
 public:
  CReportSender() = default;
  ~CReportSender();
  CReportSender(const CReportSender&) = delete;
  CReportSender& operator=(const CReportSender&) = delete;

  // Where and whether reports go; until called, every report is dropped.
  // server empty or consent false drops every report from then on.
  void Configure(std::optional<ReportServer> server, bool consent, std::string machineId);

  // True when a report made now would be sent.
  bool Enabled() const;

  // Starts the sender thread (again, after Stop).
  void Start();

  // Sends the packets still queued, then ends the thread. The wait is bounded
  // by one connection attempt per queued packet.
  void Stop();

  // One report packet. queued false: connect, send and close before
  // returning; queued true: the packet joins the queue and the call returns
  // at once (dropped when the thread is not running). Returns false when
  // the report was dropped or, unqueued, could not be delivered.
  bool Report(std::uint32_t code, std::string_view text, bool queued);

  // A workflow event: Report(27, "IPHONE:" + text, queued).
  bool ReportEvent(std::string_view text);

  // Sends a dump packet at once (same conditions as Report).
  bool SendDump(std::string_view reportName, std::span<const std::uint8_t> dump);

 private:
  void Run();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Packet> queue_;
  std::optional<ReportServer> server_;
  bool consent_ = false;
  std::string machineId_;
  bool stop_ = false;
  bool running_ = false;
  std::thread thread_;
};

// The process's sender, used by the start sequence, the crash handler and
// the workflow events of the other subsystems.
CReportSender& Reporter();

// Shorthand for Reporter().ReportEvent(text).
bool ReportEvent(std::string_view text);

}  // namespace app
