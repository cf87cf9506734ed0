#include "app/process.h"

#include <array>
#include <random>

#include "platform/digest.h"
#include "platform/environment.h"
#include "platform/system_info.h"

namespace app {
namespace {

// Parses up to count dot-separated unsigned numbers; missing parts are 0.
template <std::size_t count>
std::array<unsigned, count> VersionParts(std::string_view text) {
  std::array<unsigned, count> parts{};
  std::size_t i = 0;
  for (const char c : text) {
    if (c == '.') {
      if (++i == count) break;
    } else if (c >= '0' && c <= '9') {
      parts[i] = parts[i] * 10 + static_cast<unsigned>(c - '0');
    } else {
      break;
    }
  }
  return parts;
}

}  // namespace

ProcessValues& Process() {
  static ProcessValues values;
  return values;
}

CProductConfig& ProductConfig() {
  static CProductConfig config;
  return config;
}

std::string MakeRunId(std::uint32_t seed) {
  std::mt19937 generator(seed);
  return std::to_string(std::uniform_int_distribution<unsigned>(0, 999999)(generator));
}

std::string MakeMachineId(std::string_view machineSerial, std::string_view hostName) {
  if (machineSerial.empty() && hostName.empty()) return {};
  // Salted so the digests cannot be matched against other programs' hashes
  // of the same well-known values.
  return platform::Sha1Hex("velmora machine:" + std::string(machineSerial)).substr(0, 40) + "-_-" +
         platform::Sha1Hex("velmora host:" + std::string(hostName)).substr(0, 16);
}

std::string LocalMachineId() { return MakeMachineId(platform::MachineSerial(), platform::HostName()); }

std::uint16_t LanguageIdOfLocale(std::string_view locale) {
  if (locale.substr(0, 2) != "zh") return 1033;
  const std::string_view region = locale.substr(0, 5);
  if (region == "zh_TW" || region == "zh_HK" || region == "zh_MO") return 1028;
  return 2052;
}

std::uint16_t UserLanguageId() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (const std::string value = platform::EnvironmentValue(name); !value.empty()) return LanguageIdOfLocale(value);
  }
  return 1033;
}

RunNumStep NextRunNum(const std::optional<std::string>& previous) {
  char last = '0';
  if (previous && previous->size() == 1 && (*previous)[0] >= '0' && (*previous)[0] <= '~') last = (*previous)[0];
  const char next = last == '~' ? '~' : static_cast<char>(last + 1);
  return RunNumStep{std::string(1, next), next - 47};
}

std::string ChannelText(const std::optional<std::string>& stored, std::string_view baseDetail) {
  std::string channel = stored.value_or("");
  const bool plain = !channel.empty() && channel.find_first_not_of(
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789") == std::string::npos;
  if (!plain) channel = "0";
  if (channel.size() == 1 && !baseDetail.empty() && baseDetail.size() <= 4) channel = std::string(baseDetail);
  return channel;
}

std::string FormatStartLine(unsigned statusFlag, unsigned runCount, std::string_view productText,
                            std::string_view fileVersion, unsigned buildNumber, std::string_view osVersion,
                            std::string_view runId) {
  return std::to_string(statusFlag) + " " + std::to_string(runCount) + " " + std::string(productText) +
         " ver: " + std::string(fileVersion) + "   Svn: " + std::to_string(buildNumber) +
         "   OS: " + std::string(osVersion) + "   ID: " + std::string(runId);
}

std::string ProgramFileVersion() {
  const auto parts = VersionParts<4>(VELMORA_VERSION);
  return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]) + "." +
         std::to_string(parts[3]);
}

unsigned ProgramBuildNumber() { return VersionParts<4>(VELMORA_VERSION)[3] & 0xFFFFu; }

std::string SystemVersion() {
  const auto parts = VersionParts<3>(platform::KernelRelease());
  return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]);
}

}  // namespace app
