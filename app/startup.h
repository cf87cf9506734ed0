#pragma once
// The start sequence of the desktop program (and of any other front end
// that wants the process frame): configuration, reports, crash handling,
// then the caller's main window, then the exit report.

#include <functional>
#include <string>

namespace app {

// Shows a modal warning (caption, text) and returns when the user closed
// it. The desktop program passes its message box; without one the warning
// goes to stderr.
using WarningBox = std::function<void(const std::string& caption, const std::string& text)>;

// The texts of the configuration-failure warning for a Windows language id:
// Chinese for 1028 and 2052, English otherwise.
struct WarningText {
  std::string caption;
  std::string text;
};
WarningText ConfigFailureWarning(unsigned languageId);

// The registry.ini sections replacing the registry keys
// HKEY_LOCAL_MACHINE\SOFTWARE\<company>\<localName> (RunNum,
// JoinImproveSoft) and HKEY_CURRENT_USER\... (Detail).
std::string MachineSection(const std::string& company, const std::string& localName);
std::string UserSection(const std::string& company, const std::string& localName);

// Runs the process frame around runMainWindow and returns its result.
// Call once, on the user-interface thread, before any other thread of the
// program exists; runMainWindow creates the main window (its title is
// Process().displayName), shows it and runs the event loop until it ends.
//
// In order: user-interface locale, run identifier, machine identifier,
// crash handler, report sender thread; the product configuration from
// platform::ProgramDataFolder() — when it cannot be loaded, showWarning
// gets the ConfigFailureWarning texts, "Get config failed! ID: <run id>  "
// followed by the loader's error is reported (code 1) and 1 is returned
// without calling runMainWindow; the consent and channel values from
// registry.ini; a short-lived thread that steps RunNum and queues the start
// line (code 0); runMainWindow; the exit line "ID: <run id>" (code 1, sent
// before returning); the sender thread is stopped after sending what is
// still queued. An exception from runMainWindow passes through after the
// start-report thread and the sender were stopped.
int RunApplication(const std::function<int()>& runMainWindow, const WarningBox& showWarning = {});

}  // namespace app
