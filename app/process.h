#pragma once
// The process-wide values: set once by the start sequence (RunApplication,
// app/startup.h) before the main window exists, read everywhere afterwards.
// The pure rules behind them are separate functions so they can be checked
// alone.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "app/product_config.h"

namespace app {

struct ProcessValues {
  std::string runId;                         // decimal, 0..999999, new every start
  std::string machineId;                     // MakeMachineId; never the raw host name or serial
  std::filesystem::path executableFolder;    // folder of the running program
  std::filesystem::path dataFolder;          // platform::UserDataFolder()
  std::uint16_t languageId = 1033;           // Windows language id of the user's locale
  bool reportConsent = false;                // "JoinImproveSoft" equals "1"
  std::string channelText = "0";             // see ChannelText
  std::string displayName;                   // product entry DisplayName: the main window's title
};

// The values and the product configuration of this process. Written only
// by the start sequence on the user-interface thread before any other
// thread of the program reads them; read-only afterwards.
ProcessValues& Process();
CProductConfig& ProductConfig();

// A run identifier: the decimal text of a pseudo-random number in
// 0..999999 drawn from a generator seeded with seed (the start time).
std::string MakeRunId(std::uint32_t seed);

// The machine identifier from the machine's serial (e.g. /etc/machine-id)
// and its host name: two SHA-1 digests in hex, cut to 40 and 16
// characters, joined by "-_-" (59 characters, no spaces). Only the one-way
// hash of either value ever appears, so reports cannot name the machine or
// its owner. Empty when both inputs are empty.
std::string MakeMachineId(std::string_view machineSerial, std::string_view hostName);

// The machine identifier of this machine, from the installation's
// identifier (platform::MachineSerial) and the host name.
std::string LocalMachineId();

// The Windows language id of a POSIX locale name ("zh_CN.UTF-8" -> 2052,
// "zh_TW"/"zh_HK"/"zh_MO" -> 1028, other Chinese -> 2052, anything else
// 1033), and of the user's locale ($LC_ALL, $LC_MESSAGES, $LANG).
std::uint16_t LanguageIdOfLocale(std::string_view locale);
std::uint16_t UserLanguageId();

// One start's step of the run counter RunNum: a one-character value holding
// the count as a character code. Absent or unreadable (not one character
// from "0" to "~") counts as never run, so the first start stores "1";
// every start stores the next character, up to "~" and no further. count
// is the stored character's code minus 47, the value the start line reports.
struct RunNumStep {
  std::string stored;
  int count = 0;
};
RunNumStep NextRunNum(const std::optional<std::string>& previous);

// The channel text: the stored Detail value when it is 1 or more of A-Z,
// a-z, 0-9, else "0"; a one-character result is replaced by the base
// setting Detail when that is 1 to 4 characters long.
std::string ChannelText(const std::optional<std::string>& stored, std::string_view baseDetail);

// The start line: "%u %u %s ver: %s   Svn: %u   OS: %s   ID: %s" from the
// status flag, run count, product text, program version "a.b.c.d", build
// number, system version "major.minor.build" and run identifier.
std::string FormatStartLine(unsigned statusFlag, unsigned runCount, std::string_view productText,
                            std::string_view fileVersion, unsigned buildNumber, std::string_view osVersion,
                            std::string_view runId);

// The program's version as "a.b.c.d" (from the build's project version,
// missing parts 0) and its build number (the fourth part, low 16 bits).
std::string ProgramFileVersion();
unsigned ProgramBuildNumber();

// The kernel version as "major.minor.build"; "0.0.0" when unknown.
std::string SystemVersion();

}  // namespace app
