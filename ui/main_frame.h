#pragma once
// The main window: the source page, the category page and the pages of a
// running analysis, the account choice, the record browser and the empty
// result, built from "FrameWnd.xml". Its frame (the pages, the source tabs,
// the window buttons) and the start of the workflow: the catalogue of
// backups on this computer, a backup or a folder chosen, an encrypted backup
// unlocked with its password, the category page. The analysis behind the
// category buttons comes with the record browser, the device tab with the
// device link. UI thread only.

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/status.h"
#include "toolkit/window.h"

namespace backup {
class CBackupCatalogue;
class CFileListDB;
}  // namespace backup
namespace readers {
class ICategoryReader;
}  // namespace readers

namespace ui {

// The page controls, by page number.
inline constexpr const char* kPageNames[] = {"recoverying", "SelectUser", "ChatHistory", "extapps", "EmptyData"};
inline constexpr int kPageCount = 5;

class CMainFrame : public toolkit::CWindow {
 public:
  // The platform's folder picker: (start folder, caption) → the folder
  // chosen, nullopt when cancelled.
  using FolderPicker = std::function<std::optional<std::string>(const std::string&, const std::string&)>;
  // Asks for an encrypted backup's password, showing error (empty at first)
  // → the password typed, nullopt when the user cancelled.
  using PasswordAsker = std::function<std::optional<std::string>(const std::string& error)>;

  CMainFrame();
  ~CMainFrame() override;

  // Builds the window from "FrameWnd.xml" with the program's name as its
  // text. False, with LastError, when the skin cannot be loaded.
  bool CreateFrame(const std::string& windowText);

  // Shows page n (0-4, kPageNames) and hides the source page "l_list";
  // -1 shows the current page again. The bar "selectbar" shows only with
  // page 2. Other numbers change nothing.
  void ShowPage(int n);
  int CurrentPage() const { return currentPage_; }

  // Back to the source page (the start of the workflow).
  void ShowSourcePage();

  // Asks whether to leave; true when the user chose to, and the window is
  // then closed (which ends the program's event loop).
  bool ConfirmExit();

  // Fills "itunes_list" from the catalogue (afresh each time): one
  // "Item_Device.xml" row per backup with its device name, backup time,
  // system version, model and, for an encrypted one, the lock mark; the
  // sizes follow as their threads finish.
  void BuildCatalogue();

  // The backup the next analysis reads (empty until one is chosen), and the
  // device name its catalogue row gave (empty for a folder).
  const std::string& AnalysisSource() const { return analysisSource_; }
  const std::string& DeviceName() const { return deviceName_; }

  // The category of the last analysis (-1 before one) and its reader with
  // the records (null while an analysis runs or before one).
  int AnalysisCategory() const { return analysisCategory_; }
  readers::ICategoryReader* AnalysisResult() const;

  // Set before CreateFrame to search other roots than the default ones
  // (the backup folder of the settings, the program's, iTunes').
  std::optional<std::vector<std::filesystem::path>> catalogueRoots;
  // toolkit::PickFolder unless replaced.
  FolderPicker folderPicker;
  // The password window unless replaced.
  PasswordAsker askPassword;
  // Opens a folder in the desktop's file manager: toolkit::OpenInFileManager
  // unless replaced.
  std::function<bool(const std::string&)> openFolder;

  // A command of the system, title or tray menu, by its item name (case
  // ignored): About, Exit, BakDir (the iTunes backup folder in the file
  // manager, or "Itunes备份路径不存在！"). The maker's help pages and the
  // backup folder setting come later.
  void RunMenuCommand(const std::string& item);

 protected:
  void OnCreate() override;
  void OnNotify(const toolkit::Notification& notification) override;
  void OnMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
  std::optional<int> OnSystemClose() override;

 private:
  void OnClick(const std::string& name);
  void ShowMaximisedButtons();
  void ChooseCatalogueRow();
  void ChooseFolder();
  // Takes folder as the backup to analyse: straight to the category page,
  // or for an encrypted backup not yet unlocked in this run, its password
  // first.
  void UseBackup(const std::string& folder, const std::string& deviceName);
  // Asks for the password (showing error) and unlocks the backup on a
  // worker, with the progress page "正在验证密码"; cancel goes back to the
  // source page.
  void AskPasswordAndUnlock(const std::string& error);
  void FinishUnlock();
  void ShowCategoryPage();
  void ShowAbout();
  void PopupSystemMenu();
  // A category button: the analysis of the chosen backup for that category
  // on a worker, with the progress page; its end chooses the page.
  void StartAnalysis(int category, const std::string& caption);
  void FinishAnalysis(int outcome, int generation);
  // btn_prev: asks whether to stop the running analysis; "停止" drops it
  // (its worker stops at its next progress report) and goes back to the
  // categories. An end that comes while the question is open waits for
  // the answer.
  void AskToStopAnalysis();
  // Stops a running analysis, waits for its worker and drops its records.
  void DropAnalysisData();
  void ShowCatalogueSize(int index);
  void Warn(const std::string& caption, const std::string& text, const std::string& skinFile = {});

  int currentPage_ = 3;
  std::string analysisSource_;
  std::string deviceName_;
  std::unique_ptr<backup::CBackupCatalogue> catalogue_;
  int catalogueGeneration_ = 0;
  std::thread unlockWorker_;
  int analysisCategory_ = -1;
  std::string categoryText_;
  std::unique_ptr<backup::CFileListDB> analysisIndex_;
  std::unique_ptr<readers::ICategoryReader> analysisReader_;
  std::thread analysisWorker_;
  std::atomic<bool> stopAnalysis_ = false;
  int analysisGeneration_ = 0;  // an end posted for an older one is dropped
  bool askingToStop_ = false;
  std::optional<int> pendingOutcome_;
  base::Status unlockStatus_;  // written by the worker, read after it has ended
};

}  // namespace ui
