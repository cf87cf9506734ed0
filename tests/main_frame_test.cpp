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

#include "gui_test_support.h"
#include "platform/fs.h"
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
  void SetUp() override { ASSERT_TRUE(frame_.CreateFrame("Velmora")) << frame_.LastError(); }

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
