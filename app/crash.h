#pragma once
// Crash handling. A crash of any thread (SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGABRT — std::terminate ends in SIGABRT) sends the report
// "Exit exception" (code 27) when reports are enabled, then lets the
// signal take its default course, so the process still ends as crashed (and
// leaves a core file where the system keeps them).
//
// There is no minidump writer on this platform, so the program behaves as
// the Windows form does on a machine without DbgHelp: no dump file is
// written and only the crash report is sent. The dump rules below stay for
// platforms that can write a dump.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "app/reports.h"

namespace app {

// Dumps this size or larger are not sent (and are deleted all the same).
inline constexpr std::uintmax_t kMaxSentDumpBytes = 262144;

// Installs the signal handlers once for the process (later calls do
// nothing). Call from the start sequence; any thread.
void InstallCrashHandler();

// Prepares the crash report while the process is healthy: a signal handler
// may not allocate, so the packet and the server address are built here.
// With server empty, consent false or machineId empty a crash sends
// nothing. Call again whenever consent or the server changes; not from a
// signal handler.
void ArmCrashReport(const std::optional<ReportServer>& server, bool consent, std::string_view machineId);

// What the handler does, minus re-raising the signal: at most once per
// process, sends the armed crash report synchronously. Async-signal-safe.
void HandleCrash() noexcept;

// The dump file name "i%u%s%u_%02u%02u.dmp": build number, Brand, the digit
// 3, local hour and minute.
std::string DumpFileName(unsigned buildNumber, std::string_view brand, unsigned hour, unsigned minute);

// The dump packet's report name: the file name without folder and
// extension, its last four characters cut off, then the machine
// identifier, "_", those four characters and ".dmp".
std::string DumpReportName(const std::filesystem::path& dumpFile, std::string_view machineId);

// Sends a dump file through sender when it is non-empty and smaller than
// kMaxSentDumpBytes, then deletes it whether it was sent or not. Returns
// whether it was sent.
bool ShipDumpFile(const std::filesystem::path& dumpFile, std::string_view machineId, CReportSender& sender);

}  // namespace app
