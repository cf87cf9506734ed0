// The main window's frame from the program's own skin: its page controls,
// the source tabs, the window buttons and the exit question; and the
// desktop program's --render, which draws every skin window to a PNG.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <QTest>

#include "backup/encrypted_backup.h"
#include "gui_test_support.h"
#include "platform/fs.h"
#include "readers/category_reader.h"
#include "testing/sample_backup.h"
#include "ui/main_frame.h"

namespace {

void Click(const toolkit::CWindow& window, const char* name) {
  toolkit::CControl* control = window.Find(name);
  ASSERT_NE(control, nullptr) << name;
  QTest::mouseClick(control->Widget(), Qt::LeftButton, {}, QPoint(6, control->Widget()->height() / 2));
}

// Answers the message box that the next modal loop shows by pressing one
// of its buttons, as a user does.
void AnswerMessageBox(const char* button) {
  guitest::RunWhen([] { return QApplication::activeModalWidget() != nullptr; },
                   [button] {
                     auto* pressed = QApplication::activeModalWidget()->findChild<QPushButton*>(button);
                     ASSERT_NE(pressed, nullptr) << button;
                     QTest::mouseClick(pressed, Qt::LeftButton);
                   });
}

class MainFrameTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { guitest::EnsureApplication(); }
  void SetUp() override {
    frame_.catalogueRoots.emplace();  // never the user's own backups
    ASSERT_TRUE(frame_.CreateFrame("Velmora")) << frame_.LastError();
  }

  bool Shown(const char* name) const {
    toolkit::CControl* control = frame_.Find(name);
    EXPECT_NE(control, nullptr) << name;
    return control && control->IsVisible();
  }

  ui::CMainFrame frame_;
};

TEST_F(MainFrameTest, TheSkinHasEveryControlTheWorkflowAddresses) {
  const char* names[] = {
      "l_list", "tl_main", "connect", "btn_recovery_conn", "btn_con_recovery", "whyUnconnect", "itunes_list",
      "btn_recovery_now", "btn_choose_folder", "opt_recovery_from_device", "opt_recovery_from_itunes",
      "opt_recovery_for_pc_data", "opt_recovery_for_android", "recoverying", "text_msg_content1",
      "text_msg_content2", "progress", "scanWait", "analyWait", "bg-bum1", "bg-bum2", "Lab_type", "SelectUser",
      "User_select", "header_appID", "Localuser_list", "btn_viewRec", "ChatHistory", "selectbar", "selectall",
      "selnumber", "extapps", "EmptyData", "btn_img", "btn_prev", "btn_return", "btn_back", "btn_contacts",
      "btn_close", "btn_min", "btn_max", "btn_restore", "btn_about", "btn_menu"};
  for (const char* name : names) EXPECT_NE(frame_.Find(name), nullptr) << name;
  for (int category = 0; category <= 17; ++category) {
    const std::string name = "btn_type" + std::to_string(category);
    toolkit::CControl* button = frame_.Find(name);
    ASSERT_NE(button, nullptr) << name;
    EXPECT_FALSE(button->Text().empty()) << name;
  }
  EXPECT_EQ(frame_.Find("btn_type12")->Text(), "照片");
  EXPECT_EQ(frame_.Find("btn_type7")->Text(), "Safari书签");
  EXPECT_NE(frame_.FindList("itunes_list"), nullptr);
  EXPECT_NE(frame_.FindList("Localuser_list"), nullptr);
}

TEST_F(MainFrameTest, StartsOnTheSourcePageAndShowsOnePageAtATime) {
  EXPECT_TRUE(Shown("l_list"));
  for (const char* page : ui::kPageNames) EXPECT_FALSE(Shown(page)) << page;

  for (int n = 0; n < ui::kPageCount; ++n) {
    frame_.ShowPage(n);
    EXPECT_FALSE(Shown("l_list"));
    for (int page = 0; page < ui::kPageCount; ++page) EXPECT_EQ(Shown(ui::kPageNames[page]), page == n) << n;
    EXPECT_EQ(Shown("selectbar"), n == 2) << n;
  }
  frame_.ShowPage(2);
  frame_.ShowSourcePage();
  frame_.ShowPage(-1);  // the page it had
  EXPECT_TRUE(Shown("ChatHistory"));
  EXPECT_TRUE(Shown("selectbar"));
  frame_.ShowPage(5);  // no such page: nothing changes
  EXPECT_EQ(frame_.CurrentPage(), 2);

  frame_.Show();
  Click(frame_, "btn_return");
  EXPECT_TRUE(Shown("extapps"));
  Click(frame_, "btn_contacts");
  EXPECT_TRUE(Shown("l_list"));
  EXPECT_FALSE(Shown("extapps"));
}

TEST_F(MainFrameTest, SourceOptionsChooseTheirTab) {
  frame_.Show();
  toolkit::CControl* tabs = frame_.Find("tl_main");
  EXPECT_EQ(tabs->CurrentTab(), 1);
  Click(frame_, "opt_recovery_from_device");
  EXPECT_EQ(tabs->CurrentTab(), 0);
  Click(frame_, "opt_recovery_for_pc_data");
  EXPECT_EQ(tabs->CurrentTab(), 2);
  Click(frame_, "opt_recovery_from_itunes");
  EXPECT_EQ(tabs->CurrentTab(), 1);
}

TEST_F(MainFrameTest, ClosingAlwaysAsksAndCancelKeepsTheWindow) {
  frame_.Show();
  AnswerMessageBox("no");
  Click(frame_, "btn_close");
  EXPECT_TRUE(frame_.IsShown());

  AnswerMessageBox("no");
  frame_.Widget()->close();  // the window manager's close asks too
  EXPECT_TRUE(frame_.IsShown());

  AnswerMessageBox("itunes");  // 退出
  Click(frame_, "btn_close");
  EXPECT_FALSE(frame_.IsShown());
}

TEST_F(MainFrameTest, MaximiseSwapsTheWindowButtons) {
  frame_.Show();
  EXPECT_TRUE(Shown("btn_max"));
  EXPECT_FALSE(Shown("btn_restore"));
  Click(frame_, "btn_max");
  EXPECT_TRUE(frame_.IsMaximised());
  EXPECT_FALSE(Shown("btn_max"));
  EXPECT_TRUE(Shown("btn_restore"));
  Click(frame_, "btn_restore");
  EXPECT_FALSE(frame_.IsMaximised());
  EXPECT_TRUE(Shown("btn_max"));
}

// The start of the workflow on backups of this test's own: the catalogue
// rows, a backup or a folder chosen, an encrypted backup's password.
class MainFrameWorkflowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { guitest::EnsureApplication(); }
  MainFrameWorkflowTest() {
    sample::DemoBackup().Write(root_.Path() / "plain", sample::BackupMode::kManifestDb);
    sample::DemoBackup().Write(root_.Path() / "locked", sample::BackupMode::kManifestDb, &encryption_);
  }
  ~MainFrameWorkflowTest() override { backup::ForgetDecryptedBackups(); }

  void Open() {
    frame_.catalogueRoots = std::vector<std::filesystem::path>{root_.Path()};
    ASSERT_TRUE(frame_.CreateFrame("Velmora")) << frame_.LastError();
    frame_.Show();
  }
  toolkit::CListRow* Row(int index) const { return frame_.FindList("itunes_list")->RowAt(index); }
  bool Shown(const char* name) const { return frame_.Find(name) != nullptr && frame_.Find(name)->IsVisible(); }
  // The catalogue lists folders in name order: "locked", then "plain".
  void ChooseRow(int index) {
    frame_.FindList("itunes_list")->Select(index);
    Click(frame_, "btn_recovery_now");
  }

  platform::TempFolder root_{"velmora-frame-test"};
  sample::BackupEncryption encryption_;
  ui::CMainFrame frame_;
};

TEST_F(MainFrameWorkflowTest, TheCatalogueListsEachBackupWithItsLockAndSize) {
  Open();
  ASSERT_EQ(frame_.FindList("itunes_list")->RowCount(), 2);
  for (int index : {0, 1}) {
    EXPECT_EQ(Row(index)->Find("item_device_name")->Text(), "Lin's iPhone");
    EXPECT_EQ(Row(index)->Find("item_version")->Text(), "14.3");
    EXPECT_EQ(Row(index)->Find("item_model")->Text(), "iPhone 11");
    EXPECT_FALSE(Row(index)->Find("item_backup_time")->Text().empty());
  }
  EXPECT_TRUE(Row(0)->Find("item_lock")->IsVisible()) << "the encrypted backup shows its lock";
  EXPECT_FALSE(Row(1)->Find("item_lock")->IsVisible());
  // The sizes come from threads, delivered on this thread.
  EXPECT_TRUE(QTest::qWaitFor([&] { return Row(1)->Find("item_size")->Text().find('K') != std::string::npos; }, 10000))
      << Row(1)->Find("item_size")->Text();

  // Nothing chosen: the window stays on the start page.
  Click(frame_, "btn_recovery_now");
  EXPECT_TRUE(Shown("l_list"));
  ChooseRow(1);
  EXPECT_TRUE(Shown("extapps"));
  EXPECT_EQ(frame_.AnalysisSource(), (root_.Path() / "plain").string());
  EXPECT_EQ(frame_.DeviceName(), "Lin's iPhone");
}

// An encrypted backup asks for its password: a wrong one is asked again
// with the error shown, cancel goes back to the start page, the right one
// is verified on the progress page and leads to the categories; once
// unlocked, the backup opens again without asking.
TEST_F(MainFrameWorkflowTest, AnEncryptedBackupAsksForItsPasswordUntilItOpens) {
  Open();
  std::vector<std::string> errorsShown;
  std::vector<std::optional<std::string>> answers = {"wrong", std::nullopt};
  frame_.askPassword = [&](const std::string& error) {
    errorsShown.push_back(error);
    std::optional<std::string> answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  };
  ChooseRow(0);
  EXPECT_TRUE(Shown("recoverying"));
  EXPECT_EQ(frame_.Find("text_msg_content1")->Text(), "正在验证密码");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Shown("l_list"); }, 10000)) << "cancelled after a wrong password";
  EXPECT_EQ(errorsShown, (std::vector<std::string>{"", "密码错误，请重新输入"}));
  EXPECT_TRUE(frame_.AnalysisSource().empty());

  answers = {encryption_.password};
  errorsShown.clear();
  ChooseRow(0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Shown("extapps"); }, 10000));
  EXPECT_EQ(frame_.Find("progress")->Text(), "100%");
  EXPECT_EQ(frame_.AnalysisSource(), (root_.Path() / "locked").string());
  EXPECT_EQ(errorsShown, std::vector<std::string>{""});

  Click(frame_, "btn_contacts");
  errorsShown.clear();
  ChooseRow(0);
  EXPECT_TRUE(Shown("extapps"));
  EXPECT_TRUE(errorsShown.empty()) << "unlocked once per run";

  // 上一步 leaves the chosen backup.
  frame_.Find("btn_back")->SetVisible(true);
  Click(frame_, "btn_back");
  EXPECT_TRUE(Shown("l_list"));
  EXPECT_TRUE(frame_.AnalysisSource().empty());
}

// A category button analyses the chosen backup on a worker behind the
// progress page; its end shows the records, or the empty page.
TEST_F(MainFrameWorkflowTest, ACategoryIsAnalysedAndItsEndChoosesThePage) {
  sample::AppsDemoBackup().Write(root_.Path() / "apps", sample::BackupMode::kManifestDb);
  Open();
  ChooseRow(0);  // "apps", first in name order
  ASSERT_EQ(frame_.AnalysisSource(), (root_.Path() / "apps").string());
  Click(frame_, "btn_type5");  // messages
  EXPECT_TRUE(Shown("recoverying"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Shown("ChatHistory"); }, 20000));
  EXPECT_EQ(frame_.AnalysisCategory(), 5);
  ASSERT_NE(frame_.AnalysisResult(), nullptr);
  EXPECT_FALSE(frame_.AnalysisResult()->ResultList().empty());
  EXPECT_EQ(frame_.Find("progress")->Text(), "100%");

  Click(frame_, "btn_return");
  Click(frame_, "btn_contacts");
  ChooseRow(2);  // "plain": the small sample without WhatsApp
  Click(frame_, "btn_type10");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Shown("EmptyData"); }, 20000));
  EXPECT_TRUE(frame_.AnalysisResult()->ResultList().empty());
}

// btn_prev asks before it stops a running analysis: "不停止" lets it end
// as usual, "停止" drops it and goes back to the categories.
TEST_F(MainFrameWorkflowTest, StoppingAnAnalysisAsksAndDropsIt) {
  sample::AppsDemoBackup().Write(root_.Path() / "apps", sample::BackupMode::kManifestDb);
  Open();
  ChooseRow(0);
  Click(frame_, "btn_type5");
  AnswerMessageBox("no");  // 不停止
  Click(frame_, "btn_prev");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Shown("ChatHistory"); }, 20000));
  EXPECT_NE(frame_.AnalysisResult(), nullptr);

  Click(frame_, "btn_return");
  Click(frame_, "btn_type5");
  ASSERT_TRUE(Shown("recoverying"));
  AnswerMessageBox("itunes");  // 停止
  Click(frame_, "btn_prev");
  EXPECT_TRUE(Shown("extapps"));
  EXPECT_EQ(frame_.AnalysisResult(), nullptr);
  // An end still on its way changes nothing.
  QTest::qWait(100);
  EXPECT_TRUE(Shown("extapps"));
}

TEST_F(MainFrameWorkflowTest, AChosenFolderMustHoldABackup) {
  Open();
  std::string picked = root_.Path().string() + "/no-backup";
  std::filesystem::create_directories(picked);
  frame_.folderPicker = [&](const std::string&, const std::string&) { return std::optional<std::string>(picked); };
  AnswerMessageBox("confirm");
  Click(frame_, "btn_choose_folder");
  EXPECT_TRUE(Shown("l_list"));
  EXPECT_TRUE(frame_.AnalysisSource().empty());

  // A folder holding the backup one level down is taken as that backup.
  std::filesystem::create_directories(root_.Path() / "parent");
  std::filesystem::rename(root_.Path() / "plain", root_.Path() / "parent" / "plain");
  picked = (root_.Path() / "parent").string();
  Click(frame_, "btn_choose_folder");
  EXPECT_TRUE(Shown("extapps"));
  EXPECT_EQ(frame_.AnalysisSource(), (root_.Path() / "parent" / "plain").string());
  EXPECT_TRUE(frame_.DeviceName().empty());
}

// The menu commands: the iTunes backup folder opens in the file manager
// when it exists and is said to be missing otherwise; About shows the
// program's window; the menu button pops the system menu up.
TEST_F(MainFrameWorkflowTest, MenuCommandsOpenTheBackupFolderOrSayItIsMissing) {
  Open();
  std::vector<std::string> opened;
  frame_.openFolder = [&](const std::string& folder) {
    opened.push_back(folder);
    return true;
  };
  const std::filesystem::path root = root_.Path() / "MobileSync" / "Backup";
  ::setenv("VELMORA_BACKUP_ROOT", root.c_str(), 1);
  AnswerMessageBox("confirm");
  frame_.RunMenuCommand("BakDir");
  EXPECT_TRUE(opened.empty()) << "missing: said, not opened";
  std::filesystem::create_directories(root);
  frame_.RunMenuCommand("bakdir");
  EXPECT_EQ(opened, std::vector<std::string>{root.string()});
  ::unsetenv("VELMORA_BACKUP_ROOT");

  bool aboutShown = false;
  guitest::RunWhen([] { return QApplication::activeModalWidget() != nullptr; }, [&aboutShown] {
    auto* title = QApplication::activeModalWidget()->findChild<QWidget*>("title");
    aboutShown = title != nullptr;
    QTest::mouseClick(QApplication::activeModalWidget()->findChild<QPushButton*>("confirm"), Qt::LeftButton);
  });
  frame_.RunMenuCommand("About");
  EXPECT_TRUE(aboutShown);

  AnswerMessageBox("confirm");
  Click(frame_, "whyUnconnect");
  EXPECT_TRUE(frame_.IsShown());

  bool menuShown = false;
  guitest::RunWhen([] { return QApplication::activePopupWidget() != nullptr; }, [&menuShown] {
    menuShown = true;
    QApplication::activePopupWidget()->close();
  });
  Click(frame_, "btn_menu");
  EXPECT_TRUE(menuShown);
  EXPECT_TRUE(frame_.IsShown());
}

TEST(RenderCommand, DrawsEverySkinWindowToPng) {
  const platform::TempFolder out;
  struct Case {
    const char* skin;
    int width;
    int height;
  } cases[] = {{"message.xml", 420, 200},  {"message1.xml", 420, 200}, {"DirSelect.xml", 500, 230},
               {"ProgressDlg.xml", 460, 200}, {"FrameWnd.xml", 960, 640}};
  for (const Case& c : cases) {
    const std::filesystem::path png = out.Path() / (std::string(c.skin) + ".png");
    const std::string command = std::string(VELMORA_GUI) + " --render " + c.skin + " --out '" + png.string() +
                                "' >/dev/null 2>&1";
    ASSERT_EQ(WEXITSTATUS(std::system(command.c_str())), 0) << c.skin;
    const QImage image(QString::fromStdString(png.string()));
    ASSERT_FALSE(image.isNull()) << c.skin;
    // The skin's size and the shadow of three 4-pixel steps on each side.
    EXPECT_EQ(image.size(), QSize(c.width + 24, c.height + 24)) << c.skin;
  }
  const std::string missing = std::string(VELMORA_GUI) + " --render no-such.xml --out '" +
                              (out.Path() / "x.png").string() + "' >/dev/null 2>&1";
  EXPECT_EQ(WEXITSTATUS(std::system(missing.c_str())), 1);
  const std::string half = std::string(VELMORA_GUI) + " --render message.xml >/dev/null 2>&1";
  EXPECT_EQ(WEXITSTATUS(std::system(half.c_str())), 2);
}

}  // namespace
