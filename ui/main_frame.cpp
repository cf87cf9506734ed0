#include "ui/main_frame.h"

#include <cstdio>

#include "app/settings.h"
#include "backup/catalogue.h"
#include "backup/encrypted_backup.h"
#include "backup/file_list_db.h"
#include "platform/fs.h"
#include "platform/message_target.h"
#include "platform/paths.h"
#include "readers/category_reader.h"
#include "recovery/analysis.h"
#include "toolkit/application.h"
#include "toolkit/menu.h"
#include "ui/message_dialog.h"
#include "ui/password_dialog.h"

namespace ui {
namespace {

// The window's own messages, beside the analysis messages of the platform.
constexpr std::uint32_t kWmCatalogueSize = 0x8171;  // wParam = row, lParam = catalogue generation
constexpr std::uint32_t kWmUnlockDone = 0x8172;
// The category buttons are "btn_type" and the category's number.
constexpr const char* kCategoryButtonPrefix = "btn_type";

void SetText(const toolkit::CWindow& window, const char* name, const std::string& text) {
  if (toolkit::CControl* control = window.Find(name)) control->SetText(text);
}

void SetShown(const toolkit::CWindow& window, const char* name, bool shown) {
  if (toolkit::CControl* control = window.Find(name)) control->SetVisible(shown);
}

}  // namespace

CMainFrame::CMainFrame() = default;

CMainFrame::~CMainFrame() {
  // The workers post to this window: they end before it goes.
  if (unlockWorker_.joinable()) unlockWorker_.join();
  stopAnalysis_ = true;
  if (analysisWorker_.joinable()) analysisWorker_.join();
  catalogue_.reset();
}

bool CMainFrame::CreateFrame(const std::string& windowText) {
  SetMainWindow(true);
  return Create("FrameWnd.xml", windowText);
}

void CMainFrame::OnCreate() {
  ShowMaximisedButtons();
  BuildCatalogue();
}

void CMainFrame::ShowPage(int n) {
  if (n < -1 || n >= kPageCount) return;
  if (n != -1) currentPage_ = n;
  if (toolkit::CControl* source = Find("l_list")) source->SetVisible(false);
  for (int page = 0; page < kPageCount; ++page)
    if (toolkit::CControl* control = Find(kPageNames[page])) control->SetVisible(page == currentPage_);
  if (toolkit::CControl* bar = Find("selectbar")) bar->SetVisible(currentPage_ == 2);
}

void CMainFrame::ShowSourcePage() {
  for (const char* page : kPageNames)
    if (toolkit::CControl* control = Find(page)) control->SetVisible(false);
  if (toolkit::CControl* bar = Find("selectbar")) bar->SetVisible(false);
  if (toolkit::CControl* source = Find("l_list")) source->SetVisible(true);
}

bool CMainFrame::ConfirmExit() {
  CMessageDialog box(this, 0);
  box.SetTexts("询问", "\r\n强烈建议您立即恢复丢失的数据，以免被覆盖造成不必要的损失！\r\n\r\n您确定要退出本软件吗？", true);
  box.firstButtonText = "退出";
  box.secondButtonText = "取消";
  if (box.ShowModal(this) != toolkit::kResultOk) return false;
  Close(0);
  return true;
}

std::optional<int> CMainFrame::OnSystemClose() {
  ConfirmExit();
  return std::nullopt;  // ConfirmExit closed the window when the user agreed
}

void CMainFrame::OnNotify(const toolkit::Notification& notification) {
  if (notification.kind == "click") {
    OnClick(notification.name);
  } else if (notification.kind == "itemactivate" && notification.name == "itunes_list") {
    ChooseCatalogueRow();
  } else if (notification.kind == "selectchanged") {
    toolkit::CControl* tabs = Find("tl_main");
    if (!tabs) return;
    if (notification.name == "opt_recovery_from_device") tabs->SelectTab(0);
    if (notification.name == "opt_recovery_from_itunes") {
      tabs->SelectTab(1);
      BuildCatalogue();
    }
    if (notification.name == "opt_recovery_for_pc_data") tabs->SelectTab(2);
  }
}

void CMainFrame::OnClick(const std::string& name) {
  if (name == "btn_close") {
    ConfirmExit();
  } else if (name == "btn_min") {
    Minimise();
  } else if (name == "btn_max") {
    Maximise();
    ShowMaximisedButtons();
  } else if (name == "btn_restore") {
    Restore();
    ShowMaximisedButtons();
  } else if (name == "btn_contacts") {
    ShowSourcePage();
  } else if (name == "btn_return") {
    ShowPage(3);
  } else if (name == "btn_recovery_now") {
    ChooseCatalogueRow();
  } else if (name == "btn_choose_folder") {
    ChooseFolder();
  } else if (name == "btn_prev") {
    AskToStopAnalysis();
  } else if (name == "btn_about") {
    ShowAbout();
  } else if (name == "btn_back") {
    // Leaves the chosen backup: the next one is chosen afresh.
    analysisSource_.clear();
    deviceName_.clear();
    ShowSourcePage();
  } else if (name == "whyUnconnect") {
    Warn("未识别",
         "1. 请用原装数据线连接iPhone，并解锁屏幕。\r\n"
         "2. 在iPhone上出现“要信任此电脑吗？”时，请选择“信任”。\r\n"
         "3. 确认本机已安装并运行usbmuxd（设备连接服务）。\r\n"
         "4. 仍然无法识别时，请换一个USB接口或重新插拔数据线。",
         "why.xml");
  } else if (name == "btn_menu") {
    PopupSystemMenu();
  } else if (name.starts_with(kCategoryButtonPrefix)) {
    const std::string number = name.substr(std::char_traits<char>::length(kCategoryButtonPrefix));
    const toolkit::CControl* button = Find(name);
    if (!number.empty() && number.size() <= 2 && number.find_first_not_of("0123456789") == std::string::npos) {
      StartAnalysis(std::stoi(number), button != nullptr ? button->Text() : std::string());
    }
  }
}

void CMainFrame::OnMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  if (message == platform::kWmAnalysisProgress) {
    const int percent = static_cast<int>(lParam);
    char text[16];
    std::snprintf(text, sizeof text, "%d%%", percent);
    SetText(*this, "progress", text);
    if (toolkit::CControl* bar = Find("progress_bar")) bar->SetValue(percent);
  } else if (message == kWmCatalogueSize) {
    if (static_cast<int>(lParam) == catalogueGeneration_) ShowCatalogueSize(static_cast<int>(wParam));
  } else if (message == kWmUnlockDone) {
    FinishUnlock();
  } else if (message == platform::kWmAnalysisDone) {
    FinishAnalysis(static_cast<int>(wParam), static_cast<int>(lParam));
  }
}

void CMainFrame::BuildCatalogue() {
  auto* list = dynamic_cast<toolkit::CList*>(Find("itunes_list"));
  if (list == nullptr) return;
  list->RemoveAll();
  // The old catalogue's size threads end first; what they still post names
  // the old generation and is dropped.
  catalogue_.reset();
  const int generation = ++catalogueGeneration_;
  std::vector<std::filesystem::path> roots;
  if (catalogueRoots) {
    roots = *catalogueRoots;
  } else {
    roots = backup::DefaultCatalogueRoots(app::ReadSetting(app::kStorageSection, app::kBackupPathKey));
  }
  backup::CModelNames models;
  models.Load(backup::DefaultModelNamesPath());
  catalogue_ = std::make_unique<backup::CBackupCatalogue>();
  catalogue_->Build(roots, models, true, [this, generation](int index) {
    Post(kWmCatalogueSize, static_cast<std::uintptr_t>(index), generation);
  });
  for (const backup::BackupEntry& entry : catalogue_->Entries()) {
    toolkit::CListRow* row = list->AddRow("Item_Device.xml");
    if (row == nullptr) break;
    row->SetTag(static_cast<std::uintptr_t>(entry.index));
    auto set = [row](const char* name, const std::string& text) {
      if (toolkit::CControl* control = row->Find(name)) control->SetText(text);
    };
    set("item_device_name", entry.deviceName);
    // Backups of one phone share its name: the folder tells them apart.
    if (toolkit::CControl* name = row->Find("item_device_name")) name->SetToolTip(entry.folder);
    set("item_backup_time", backup::FormatBackupTime(entry.backupTime));
    set("item_version", entry.systemVersion);
    set("item_model", entry.model);
    if (!entry.sizeText.empty()) set("item_size", entry.sizeText);
    if (toolkit::CControl* lock = row->Find("item_lock")) lock->SetVisible(entry.encrypted);
  }
  // Sizes that were known before their rows existed.
  for (int index = 0; index < list->RowCount(); ++index) ShowCatalogueSize(index);
}

void CMainFrame::ShowCatalogueSize(int index) {
  auto* list = dynamic_cast<toolkit::CList*>(Find("itunes_list"));
  if (list == nullptr || catalogue_ == nullptr) return;
  const std::vector<backup::BackupEntry> entries = catalogue_->Entries();
  toolkit::CListRow* row = list->RowAt(index);
  if (row == nullptr || index < 0 || static_cast<std::size_t>(index) >= entries.size()) return;
  if (entries[static_cast<std::size_t>(index)].sizeText.empty()) return;
  if (toolkit::CControl* size = row->Find("item_size")) size->SetText(entries[static_cast<std::size_t>(index)].sizeText);
}

void CMainFrame::ChooseCatalogueRow() {
  auto* list = dynamic_cast<toolkit::CList*>(Find("itunes_list"));
  if (list == nullptr || catalogue_ == nullptr) return;
  const int selected = list->SelectedIndex();
  const std::vector<backup::BackupEntry> entries = catalogue_->Entries();
  if (selected < 0 || static_cast<std::size_t>(selected) >= entries.size()) return;
  const backup::BackupEntry& entry = entries[static_cast<std::size_t>(selected)];
  UseBackup(entry.folder, entry.deviceName);
}

void CMainFrame::ChooseFolder() {
  const FolderPicker pick = folderPicker ? folderPicker : FolderPicker(toolkit::PickFolder);
  const std::optional<std::string> picked = pick(std::string(), "选择存放iPhone备份的文件夹");
  if (!picked || picked->empty()) return;
  std::string chosen;
  if (backup::IsBackupFolder(*picked, chosen) == 0) {
    Warn("文件夹错误", "所选文件夹中没有找到iPhone备份。\r\n请选择包含Manifest.db（或Manifest.mbdb）的备份文件夹，或它的上一级文件夹。",
         "warning.xml");
    return;
  }
  UseBackup(chosen, std::string());
}

void CMainFrame::UseBackup(const std::string& folder, const std::string& deviceName) {
  analysisSource_ = folder;
  deviceName_ = deviceName;
  if (!backup::IsEncryptedBackup(folder)) {
    ShowCategoryPage();
    return;
  }
  // Unlocked before in this run: it opens without the password.
  backup::CFileListDB probe;
  const base::Status opened = probe.Open(folder, -1);
  if (opened.Ok()) {
    ShowCategoryPage();
  } else if (opened.Kind() == base::Status::Code::kNeedsPassword) {
    AskPasswordAndUnlock(std::string());
  } else {
    Warn("未发现备份信息", opened.Text());
    analysisSource_.clear();
  }
}

void CMainFrame::AskPasswordAndUnlock(const std::string& error) {
  std::optional<std::string> password;
  if (askPassword) {
    password = askPassword(error);
  } else {
    CPasswordDialog dialog;
    dialog.SetError(error);
    if (dialog.ShowModal(this) == toolkit::kResultOk) password = dialog.TakePassword();
  }
  if (!password) {
    analysisSource_.clear();
    ShowSourcePage();
    return;
  }
  ShowPage(0);
  SetText(*this, "text_msg_content1", "正在验证密码");
  SetText(*this, "text_msg_content2", "加密的备份要先用密码解开，这需要几秒钟，请稍候…");
  SetText(*this, "Lab_type", "");
  SetShown(*this, "btn_prev", false);
  OnMessage(platform::kWmAnalysisProgress, 0, 0);
  // The key derivation takes seconds: a worker does it, and the unlocked
  // backup stays open for the rest of the run.
  unlockWorker_ = std::thread([this, folder = analysisSource_, secret = *password]() mutable {
    backup::CFileListDB index;
    index.SetPassword(secret);
    backup::WipeText(secret);
    index.SetUnlockProgress([this](int percent) { Post(platform::kWmAnalysisProgress, 0, percent); });
    unlockStatus_ = index.Open(folder, -1);
    Post(kWmUnlockDone, 0, 0);
  });
  backup::WipeText(*password);
}

void CMainFrame::FinishUnlock() {
  if (unlockWorker_.joinable()) unlockWorker_.join();
  SetShown(*this, "btn_prev", true);
  switch (unlockStatus_.Kind()) {
    case base::Status::Code::kOk: ShowCategoryPage(); break;
    case base::Status::Code::kWrongPassword: AskPasswordAndUnlock("密码错误，请重新输入"); break;
    default:
      Warn("未发现备份信息", unlockStatus_.Text());
      analysisSource_.clear();
      ShowSourcePage();
  }
}

void CMainFrame::ShowCategoryPage() { ShowPage(3); }

void CMainFrame::ShowAbout() {
  Warn("关于", std::string("Velmora 数据恢复  ") + VELMORA_VERSION +
                   "\r\n\r\n从iPhone备份中找回短信、联系人、通话记录、备忘录、日历、照片、微信、QQ和WhatsApp等数据，"
                   "包括已删除的记录。\r\n恢复过程只读取备份，不会修改备份文件。",
       "about.xml");
}

void CMainFrame::PopupSystemMenu() {
  toolkit::CMenuEx menu;
  if (!menu.Load("sys_menu.xml")) return;
  // Below the menu button: its bottom left corner, 2 pixels down.
  const toolkit::CControl* button = Find("btn_menu");
  const toolkit::ScreenRect rect = button != nullptr ? button->GlobalRect() : toolkit::ScreenRect{};
  RunMenuCommand(menu.Popup(rect.x, rect.y + rect.height + 2));
}

void CMainFrame::RunMenuCommand(const std::string& item) {
  const std::string name = platform::AsciiLower(item);
  if (name == "about") {
    ShowAbout();
  } else if (name == "exit") {
    ConfirmExit();
  } else if (name == "bakdir") {
    const std::filesystem::path root = platform::ITunesBackupRoot();
    if (!platform::IsFolderOrLinkToOne(root)) {
      Warn("提示", "Itunes备份路径不存在！");
      return;
    }
    const auto open = openFolder ? openFolder : std::function<bool(const std::string&)>(toolkit::OpenInFileManager);
    open(root.string());
  }
}

readers::ICategoryReader* CMainFrame::AnalysisResult() const {
  return analysisWorker_.joinable() ? nullptr : analysisReader_.get();
}

void CMainFrame::StartAnalysis(int category, const std::string& caption) {
  // The device tab makes a fresh backup first; that comes with the device
  // link. Here a backup or folder has been chosen.
  if (analysisSource_.empty() || analysisWorker_.joinable() || category < 0 || category > 17) return;
  analysisCategory_ = category;
  categoryText_ = caption;
  analysisIndex_ = std::make_unique<backup::CFileListDB>();
  if (const base::Status opened = analysisIndex_->Open(analysisSource_, -1); !opened.Ok()) {
    Warn("无效路径", analysisSource_ + "\r\n" + opened.Text());
    return;
  }
  ShowPage(0);
  SetText(*this, "text_msg_content1", "正在分析备份数据，请稍候…");
  SetText(*this, "text_msg_content2", "分析只读取备份，不会修改备份文件。");
  SetText(*this, "Lab_type", "正在读取：" + caption);
  OnMessage(platform::kWmAnalysisProgress, 0, 0);
  stopAnalysis_ = false;
  analysisWorker_ = std::thread([this, category, generation = ++analysisGeneration_] {
    // The end names its analysis, so that one dropped meanwhile is known.
    class Target : public platform::IMessageTarget {
     public:
      Target(CMainFrame& frame, int generation) : frame_(frame), generation_(generation) {}
      void Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override {
        frame_.Post(message, wParam, message == platform::kWmAnalysisDone ? generation_ : lParam);
      }

     private:
      CMainFrame& frame_;
      int generation_;
    } target(*this, generation);
    recovery::RunAnalysis(category, *analysisIndex_, analysisReader_, &target, {}, &stopAnalysis_);
  });
}

void CMainFrame::AskToStopAnalysis() {
  if (!analysisWorker_.joinable() || askingToStop_) return;
  CMessageDialog box(this, 0);
  box.SetTexts("询问", "正在分析" + categoryText_ + "数据，您确定要停止吗？停止后您将需要重新开始分析。");
  box.firstButtonText = "停止";
  box.secondButtonText = "不停止";
  askingToStop_ = true;
  const bool stop = box.ShowModal(this) == toolkit::kResultOk;
  askingToStop_ = false;
  if (stop) {
    DropAnalysisData();
    ShowPage(3);
  } else if (pendingOutcome_) {
    const int outcome = *pendingOutcome_;
    pendingOutcome_.reset();
    FinishAnalysis(outcome, analysisGeneration_);
  }
}

void CMainFrame::DropAnalysisData() {
  stopAnalysis_ = true;
  if (analysisWorker_.joinable()) analysisWorker_.join();
  stopAnalysis_ = false;
  analysisReader_.reset();
  analysisIndex_.reset();
  pendingOutcome_.reset();
  ++analysisGeneration_;
}

void CMainFrame::FinishAnalysis(int outcome, int generation) {
  if (generation != analysisGeneration_) return;
  if (askingToStop_) {
    pendingOutcome_ = outcome;
    return;
  }
  if (analysisWorker_.joinable()) analysisWorker_.join();
  OnMessage(platform::kWmAnalysisProgress, 0, 100);
  SetText(*this, "Lab_type", categoryText_);
  switch (outcome) {
    case recovery::kAnalysisChooseAccount: ShowPage(1); break;
    case recovery::kAnalysisListed: ShowPage(2); break;
    case recovery::kAnalysisStopped: ShowPage(3); break;
    default: ShowPage(4);
  }
}

void CMainFrame::Warn(const std::string& caption, const std::string& text, const std::string& skinFile) {
  CMessageDialog box(this, 1, skinFile);
  box.SetTexts(caption, text, true);
  box.ShowModal(this);
}

void CMainFrame::ShowMaximisedButtons() {
  const bool maximised = IsMaximised();
  if (toolkit::CControl* max = Find("btn_max")) max->SetVisible(!maximised);
  if (toolkit::CControl* restore = Find("btn_restore")) restore->SetVisible(maximised);
}

}  // namespace ui
