// The message box, the folder dialog, the progress window and the password
// dialog, built from the program's own skins and driven headless as a user
// drives them.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "gui_test_support.h"
#include "platform/fs.h"
#include "ui/dir_select_wnd.h"
#include "ui/message_dialog.h"
#include "ui/password_dialog.h"
#include "ui/progress_wnd.h"

namespace {

using toolkit::CWindow;

void Click(const CWindow& window, const char* name) {
  toolkit::CControl* control = window.Find(name);
  ASSERT_NE(control, nullptr) << name;
  ASSERT_TRUE(control->Widget()->isVisible()) << name << " is not shown";
  QTest::mouseClick(control->Widget(), Qt::LeftButton);
}

// Types text as a keyboard (with an input method for Chinese) does: a key
// event carrying each character; QTest::keyClicks knows only ASCII.
void TypeText(QWidget* widget, const std::string& text) {
  for (const QChar character : QString::fromStdString(text))
    QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(character), Qt::NoModifier);
}

class DialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { guitest::EnsureApplication(); }
};

TEST_F(DialogTest, MessageBoxReturnsTheValueOfEachButton) {
  struct Case {
    int withConfirm;
    const char* first;
    const char* second;
    const char* press;
    int expected;
  } cases[] = {
      {1, "", "", "confirm", 2},
      {1, "", "", "closebtn", 2},
      {1, "是", "", "itunes", 1},
      {0, "退出", "取消", "itunes", 1},
      {0, "退出", "取消", "no", 2},
      {0, "", "不停止", "no", 2},
      {0, "", "", "closebtn", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.press) + " with confirm " + std::to_string(c.withConfirm));
    ui::CMessageDialog box(nullptr, c.withConfirm);
    box.SetTexts("询问", "您确定要退出本软件吗？");
    box.firstButtonText = c.first;
    box.secondButtonText = c.second;
    guitest::RunSoon([&box, &c] {
      EXPECT_EQ(box.WindowText(), "提示");
      EXPECT_EQ(box.Find("title")->Text(), "询问");
      EXPECT_EQ(box.Find("msessage")->Text(), "您确定要退出本软件吗？");
      EXPECT_EQ(box.Find("confirm")->IsVisible(), c.withConfirm == 1);
      if (*c.second) {
        EXPECT_EQ(box.Find("no")->Text(), c.second);
      }
      Click(box, c.press);
    });
    EXPECT_EQ(box.ShowModal(nullptr), c.expected);
    EXPECT_EQ(box.SkinFile(), c.withConfirm == 1 ? "message.xml" : "message1.xml");
  }
}

TEST_F(DialogTest, MessageBoxClosedBySystemOrWithoutSkin) {
  ui::CMessageDialog box(nullptr, 0);
  guitest::RunSoon([&box] { box.Widget()->close(); });
  EXPECT_EQ(box.ShowModal(nullptr), 2);

  ui::CMessageDialog missing(nullptr, 0, "no-such-skin.xml");
  EXPECT_EQ(missing.ShowModal(nullptr), 2);
}

TEST_F(DialogTest, MessageBoxGrowsForLongMessages) {
  ui::CMessageDialog box(nullptr, 0);
  std::string message;
  for (int i = 0; i < 12; ++i) message += "\r\n强烈建议您立即恢复丢失的数据，以免被覆盖造成不必要的损失！";
  box.SetTexts("询问", message, true);
  int shownHeight = 0;
  guitest::RunSoon([&] {
    shownHeight = box.ContentWidget()->height();
    Click(box, "no");
  });
  box.ShowModal(nullptr);
  QWidget* text = box.Find("msessage")->Widget();
  EXPECT_GT(shownHeight, 200);
  EXPECT_GE(text->height(), text->heightForWidth(text->width()));
}

class DirSelectTest : public DialogTest {
 protected:
  void SetUp() override {
    dialog_.chosenFolder = "/data/RecoverySave";
    dialog_.prompt = "请选择导出目录";
  }

  void TypeFolder(const QString& text) {
    QWidget* edit = dialog_.Find("SavePath")->Widget();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, text);
  }

  ui::CDirSelectWnd dialog_;
};

TEST_F(DirSelectTest, OkReturnsTheTypedFolder) {
  guitest::RunSoon([this] {
    EXPECT_EQ(dialog_.WindowText(), "目录选择");
    EXPECT_EQ(dialog_.Find("msg")->Text(), "请选择导出目录");
    EXPECT_EQ(dialog_.Find("SavePath")->Text(), "/data/RecoverySave");
    TypeFolder("/home/user/Saved");
    Click(dialog_, "btn_OK");
  });
  EXPECT_EQ(dialog_.ShowModal("目录选择"), 1);
  EXPECT_EQ(dialog_.chosenFolder, "/home/user/Saved");
}

TEST_F(DirSelectTest, CancelAndCloseLeaveNoFolder) {
  for (const char* button : {"btn_Cancel", "closebtn"}) {
    ui::CDirSelectWnd dialog;
    dialog.chosenFolder = "/data/RecoverySave";
    guitest::RunSoon([&dialog, button] {
      QTest::keyClicks(dialog.Find("SavePath")->Widget(), "/typed");
      Click(dialog, button);
    });
    EXPECT_EQ(dialog.ShowModal("目录选择"), 2) << button;
    EXPECT_EQ(dialog.chosenFolder, "") << button;
  }
  guitest::RunSoon([this] { dialog_.Widget()->close(); });
  EXPECT_EQ(dialog_.ShowModal("目录选择"), 2);
  EXPECT_EQ(dialog_.chosenFolder, "");
}

TEST_F(DirSelectTest, TheFolderPickerFillsThePathOrChangesNothing) {
  const platform::TempFolder picked;
  const QString pickedPath = QString::fromStdString(picked.Path().string());
  // The real picker, answered as a user answers it: first cancelled, then
  // with a folder chosen.
  auto answerPicker = [](std::function<void(QFileDialog*)> answer) {
    guitest::RunWhen([] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()) != nullptr; },
                     [answer] { answer(qobject_cast<QFileDialog*>(QApplication::activeModalWidget())); });
  };
  guitest::RunSoon([&] {
    answerPicker([&](QFileDialog* picker) {
      picker->reject();
      guitest::RunSoon([&] {
        EXPECT_EQ(dialog_.Find("SavePath")->Text(), "/data/RecoverySave");
        answerPicker([&](QFileDialog* second) {
          second->setDirectory(pickedPath);
          second->selectFile(pickedPath);
          static_cast<QDialog*>(second)->accept();  // the dialog's own OK
          guitest::RunSoon([&] { Click(dialog_, "btn_OK"); });
        });
        Click(dialog_, "btn_choose_folder");
      });
    });
    Click(dialog_, "btn_choose_folder");
  });
  EXPECT_EQ(dialog_.ShowModal("目录选择"), 1);
  EXPECT_EQ(QDir(QString::fromStdString(dialog_.chosenFolder)), QDir(pickedPath));
}

TEST_F(DialogTest, ProgressButtonsReturnTheirValuesAndCancelStopsTheRun) {
  struct Case {
    const char* button;
    int expected;
    bool cancelled;
  };
  for (const Case& c : {Case{"btn_OK", 1, false}, Case{"btn_Cancel", 2, true}, Case{"closebtn", 2, true}}) {
    ui::CProgressWnd window;
    EXPECT_FALSE(window.Cancelled());
    guitest::RunSoon([&window, button = c.button] {
      EXPECT_EQ(window.WindowText(), "导出进度");
      Click(window, button);
    });
    EXPECT_EQ(window.ShowModal("导出进度"), c.expected) << c.button;
    EXPECT_EQ(window.Cancelled(), c.cancelled) << c.button;
  }
}

TEST_F(DialogTest, SetProgressWaitsForTheWindowAndClosesItAtOneHundred) {
  ui::CProgressWnd window;
  std::atomic<bool> started{false};
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    started = true;
    window.SetProgress(100.0F);
    returned = true;
  });
  while (!started) std::this_thread::yield();
  // The worker has begun while no window exists yet: it must still be
  // waiting for it.
  QTest::qWait(100);
  EXPECT_FALSE(returned.load());
  EXPECT_EQ(window.ShowModal("导出进度"), 0);
  worker.join();
  EXPECT_TRUE(returned.load());
  EXPECT_FALSE(window.Cancelled());
  EXPECT_EQ(window.Find("prg_value")->Text(), "100%");
  EXPECT_EQ(window.Find("ProgressBar")->Value(), 100);
}

TEST_F(DialogTest, AddProgressPastOneHundredShowsTheLargerNumber) {
  ui::CProgressWnd window;
  std::thread worker([&] {
    window.SetProgress(90.0F);
    window.AddProgress(12.5F);
    window.AddProgress(13.0F);
  });
  guitest::RunWhen([&] { return window.Find("prg_value")->Text() == "115%"; },
                   [&] {
                     EXPECT_TRUE(window.IsShown());  // only SetProgress (100) closes
                     EXPECT_EQ(window.Find("ProgressBar")->Value(), 100);
                     Click(window, "btn_OK");
                   });
  EXPECT_EQ(window.ShowModal("导出进度"), 1);
  worker.join();
  EXPECT_FLOAT_EQ(window.PercentValue(), 115.5F);
  EXPECT_EQ(ui::PercentText(99.9F), "99%");
}

TEST_F(DialogTest, ProgressWithoutItsSkinNeverHoldsTheWorker) {
  ::setenv("VELMORA_SKIN_DIR", "/nonexistent", 1);
  ui::CProgressWnd window;
  EXPECT_EQ(window.ShowModal("导出进度"), 2);
  ::unsetenv("VELMORA_SKIN_DIR");
  window.SetProgress(50.0F);  // returns at once
  EXPECT_FLOAT_EQ(window.PercentValue(), 50.0F);
}

class PasswordDialogTest : public DialogTest {
 protected:
  QLineEdit* Field() const { return qobject_cast<QLineEdit*>(dialog_.Find("password")->Widget()); }
  void Type(const std::string& text) const { TypeText(Field(), text); }
  void PressEnter() const { QTest::keyClick(Field(), Qt::Key_Return); }
  bool ErrorShown() const { return dialog_.Find("error")->IsVisible(); }

  ui::CPasswordDialog dialog_;
};

TEST_F(PasswordDialogTest, OkOrEnterHandsTheTypedPasswordOverOnce) {
  struct Case {
    const char* password;
    bool byEnter;
  } cases[] = {{"密码 ünï", false}, {"密码 ünï", true}, {"a", false}, {"Backup-Pass 2024!", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.password) + (c.byEnter ? " by Enter" : " by OK"));
    ui::CPasswordDialog dialog;
    auto typeAndConfirm = [&dialog, &c] {
      EXPECT_EQ(dialog.WindowText(), "提示");
      auto* field = qobject_cast<QLineEdit*>(dialog.Find("password")->Widget());
      EXPECT_EQ(field->echoMode(), QLineEdit::Password);
      EXPECT_EQ(QApplication::focusWidget(), field);
      EXPECT_FALSE(dialog.Find("error")->IsVisible());
      TypeText(QApplication::focusWidget(), c.password);
      if (c.byEnter)
        QTest::keyClick(field, Qt::Key_Return);
      else
        Click(dialog, "btn_OK");
    };
    // Once the window is active, what the user types goes to the field.
    guitest::RunWhen([&dialog] { return dialog.Widget() && QApplication::activeWindow() == dialog.Widget(); },
                     typeAndConfirm);
    EXPECT_EQ(dialog.ShowModal(nullptr), 1);
    // The field no longer holds the text, nor can an undo bring it back.
    auto* field = qobject_cast<QLineEdit*>(dialog.Find("password")->Widget());
    EXPECT_EQ(field->text(), "");
    EXPECT_FALSE(field->isUndoAvailable());
    EXPECT_EQ(dialog.TakePassword(), c.password);
    EXPECT_EQ(dialog.TakePassword(), "");
  }
}

TEST_F(PasswordDialogTest, CancelCloseAndSystemCloseKeepNoPassword) {
  for (const char* button : {"btn_Cancel", "closebtn", ""}) {
    SCOPED_TRACE(*button ? button : "closed by the system");
    ui::CPasswordDialog dialog;
    // A password confirmed earlier and never taken does not survive a
    // later cancel either.
    guitest::RunSoon([&dialog] {
      QTest::keyClicks(dialog.Find("password")->Widget(), "earlier");
      Click(dialog, "btn_OK");
    });
    ASSERT_EQ(dialog.ShowModal(nullptr), 1);
    guitest::RunSoon([&dialog, button] {
      EXPECT_EQ(dialog.Find("password")->Text(), "");
      QTest::keyClicks(dialog.Find("password")->Widget(), "typed");
      if (*button)
        Click(dialog, button);
      else
        dialog.Widget()->close();
    });
    EXPECT_EQ(dialog.ShowModal(nullptr), 2);
    EXPECT_EQ(dialog.TakePassword(), "");
    EXPECT_EQ(dialog.Find("password")->Text(), "");
  }
}

TEST_F(PasswordDialogTest, AnEmptyFieldDoesNotConfirm) {
  guitest::RunSoon([this] {
    Click(dialog_, "btn_OK");
    EXPECT_TRUE(dialog_.IsShown());
    EXPECT_TRUE(ErrorShown());
    EXPECT_EQ(dialog_.Find("error")->Text(), "请输入密码");
    PressEnter();
    EXPECT_TRUE(dialog_.IsShown());
    Type("secret");
    Click(dialog_, "btn_OK");
  });
  EXPECT_EQ(dialog_.ShowModal(nullptr), 1);
  EXPECT_EQ(dialog_.TakePassword(), "secret");
}

TEST_F(PasswordDialogTest, AWrongPasswordIsAskedForAgainWithTheErrorShown) {
  guitest::RunSoon([this] {
    Type("wrong");
    PressEnter();
  });
  ASSERT_EQ(dialog_.ShowModal(nullptr), 1);
  EXPECT_EQ(dialog_.TakePassword(), "wrong");

  dialog_.SetError("密码错误，请重新输入");
  guitest::RunSoon([this] {
    EXPECT_TRUE(ErrorShown());
    QLabel* line = qobject_cast<QLabel*>(dialog_.Find("error")->Widget());
    EXPECT_EQ(line->text(), "密码错误，请重新输入");
    EXPECT_EQ(line->palette().color(line->foregroundRole()).name().toStdString(), "#e02424") << "drawn in red";
    EXPECT_EQ(Field()->text(), "");
    Type("right");
    Click(dialog_, "btn_OK");
  });
  ASSERT_EQ(dialog_.ShowModal(nullptr), 1);
  EXPECT_EQ(dialog_.TakePassword(), "right");

  // The error belonged to that asking: the next one opens without it.
  guitest::RunSoon([this] {
    EXPECT_FALSE(ErrorShown());
    Click(dialog_, "btn_Cancel");
  });
  EXPECT_EQ(dialog_.ShowModal(nullptr), 2);
}

TEST_F(PasswordDialogTest, WithoutItsSkinItIsACancel) {
  ::setenv("VELMORA_SKIN_DIR", "/nonexistent", 1);
  EXPECT_EQ(dialog_.ShowModal(nullptr), 2);
  ::unsetenv("VELMORA_SKIN_DIR");
  EXPECT_EQ(dialog_.TakePassword(), "");
}

}  // namespace
