#include "app/startup.h"

#include <clocale>
#include <cstdint>
#include <ctime>
#include <iostream>
#include <optional>
#include <thread>

#include "app/crash.h"
#include "app/process.h"
#include "app/product_config.h"
#include "app/reports.h"
#include "app/settings.h"
#include "platform/paths.h"

namespace app {
namespace {

// The head of the start line; the report server reads 1 as "started
// normally".
constexpr unsigned kStartStatusFlag = 1;

std::optional<std::string> ReadStored(const std::string& section, const char* key) {
  std::string value;
  const std::filesystem::path file = RegistryFilePath();
  // An absent key and an empty value are told apart by a marker fallback
  // that no stored value can equal (values never hold line breaks).
  value = ReadIniValue(file, section, key, "\n");
  if (value == "\n") return std::nullopt;
  return value;
}

void ReportStart(const std::string& machineSection, const std::string& productText, const std::string& runId) {
  const RunNumStep step = NextRunNum(ReadStored(machineSection, "RunNum"));
  WriteIniValue(RegistryFilePath(), machineSection, "RunNum", step.stored);
  const std::string line = FormatStartLine(kStartStatusFlag, static_cast<unsigned>(step.count), productText,
                                           ProgramFileVersion(), ProgramBuildNumber(), SystemVersion(), runId);
  Reporter().Report(kReportStart, line, true);
}

// Stops the start-report thread and the sender on every way out.
struct ShutdownGuard {
  std::thread startReport;
  ~ShutdownGuard() {
    if (startReport.joinable()) startReport.join();
    Reporter().Stop();
  }
};

}  // namespace

WarningText ConfigFailureWarning(unsigned languageId) {
  if (languageId == 1028 || languageId == 2052) return {"警告", "抱歉，获取软件配置失败，请重新安装我们软件！"};
  return {"Warning", "Get software configuration failed. Please setup software again!"};
}

std::string MachineSection(const std::string& company, const std::string& localName) {
  return "HKEY_LOCAL_MACHINE\\SOFTWARE\\" + company + "\\" + localName;
}

std::string UserSection(const std::string& company, const std::string& localName) {
  return "HKEY_CURRENT_USER\\SOFTWARE\\" + company + "\\" + localName;
}

int RunApplication(const std::function<int()>& runMainWindow, const WarningBox& showWarning) {
  // Only the character type: the numeric locale stays "C" so that numbers
  // written to files and reports never take a user's decimal comma.
  std::setlocale(LC_CTYPE, "");
  ProcessValues& process = Process();
  process = ProcessValues{};
  process.runId = MakeRunId(static_cast<std::uint32_t>(std::time(nullptr)));
  process.machineId = LocalMachineId();
  process.executableFolder = platform::ExecutableFolder();
  process.dataFolder = platform::UserDataFolder();
  process.languageId = UserLanguageId();
  InstallCrashHandler();
  Reporter().Configure(std::nullopt, false, process.machineId);
  ShutdownGuard guard;
  Reporter().Start();

  CProductConfig& config = ProductConfig();
  if (const std::string error = config.Load(platform::ProgramDataFolder()); !error.empty()) {
    const WarningText warning = ConfigFailureWarning(process.languageId);
    if (showWarning) {
      showWarning(warning.caption, warning.text);
    } else {
      std::cerr << warning.caption << ": " << warning.text << "\n";
    }
    // Without a configuration there is no server, so this is dropped; it
    // stays so that the failure is told wherever a server is known.
    Reporter().Report(kReportExit, "Get config failed! ID: " + process.runId + "  " + error, false);
    return 1;
  }

  const std::string company = config.Product("Company");
  const std::string localName = config.Product("LocalName");
  const std::string machineSection = MachineSection(company, localName);
  process.reportConsent = ReadStored(machineSection, "JoinImproveSoft").value_or("") == "1";
  process.channelText = ChannelText(ReadStored(UserSection(company, localName), "Detail"), config.Base("Detail"));
  process.displayName = config.Product("DisplayName");
  if (process.displayName.empty()) process.displayName = localName;
  const std::optional<ReportServer> server = ParseReportServer(config.Base("ReportServer"));
  Reporter().Configure(server, process.reportConsent, process.machineId);
  ArmCrashReport(server, process.reportConsent, process.machineId);

  guard.startReport = std::thread(ReportStart, machineSection, config.ProductText(process.channelText), process.runId);
  const int result = runMainWindow();
  if (guard.startReport.joinable()) guard.startReport.join();
  Reporter().Report(kReportExit, "ID: " + process.runId, false);
  return result;
}

}  // namespace app
