// The window toolkit, headless: skins into widgets with their names,
// notifications from user actions, list rows from row skins, modal loops,
// posted messages from other threads, timers, moving and sizing areas,
// menus and rendering.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include "gui_test_support.h"
#include "platform/fs.h"
#include "toolkit/menu.h"
#include "toolkit/skin.h"
#include "toolkit/window.h"

namespace {

namespace fs = std::filesystem;
using toolkit::CControl;
using toolkit::CWindow;
using toolkit::HitArea;
using toolkit::Notification;

// A window that remembers what reached it.
class RecordingWindow : public CWindow {
 public:
  std::vector<Notification> notes;
  std::vector<std::pair<std::uint32_t, std::intptr_t>> messages;
  std::vector<std::thread::id> messageThreads;
  std::vector<int> timerTicks;
  std::function<void(int)> onTimer;
  std::function<void(const Notification&)> onNotify;

 protected:
  void OnNotify(const Notification& notification) override {
    notes.push_back(notification);
    if (onNotify) onNotify(notification);
  }
  void OnMessage(std::uint32_t message, std::uintptr_t /*wParam*/, std::intptr_t lParam) override {
    messages.emplace_back(message, lParam);
    messageThreads.push_back(std::this_thread::get_id());
  }
  void OnTimer(int id) override {
    timerTicks.push_back(id);
    if (onTimer) onTimer(id);
  }
};

constexpr const char* kMainSkin = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="400,300" caption="0,0,0,40" sizebox="4,4,4,4" roundcorner="6" shadowsize="2">
  <VerticalLayout>
    <HorizontalLayout name="bar" height="40">
      <Label name="title" text="标题"/>
      <Text name="note" text="说明" width="60"/>
      <Control/>
      <Button name="closebtn" text="×" width="30"/>
    </HorizontalLayout>
    <Option name="optA" group="src" text="甲" selected="true"/>
    <Option name="optB" group="src" text="乙"/>
    <CheckBox name="tick" text="全选"/>
    <Edit name="search" prompt="搜索"/>
    <Combo name="sort"><Item text="按时间"/><Item text="按名称"/></Combo>
    <Progress name="bar2" min="0" max="100" value="5"/>
    <TabLayout name="tabs" selectedid="1">
      <Label name="tab0" text="零"/>
      <Label name="tab1" text="一"/>
    </TabLayout>
    <Label name="hidden" text="藏" visible="false"/>
    <Button name="ok" text="确定"/>
    <List name="rows"/>
    <Picture name="pic" image="file='dot.png' dest='0,0,8,8'"/>
  </VerticalLayout>
</Window>)";

constexpr const char* kRowSkin = R"(<HorizontalLayout height="30">
  <Label name="IText_id" text="row"/>
  <Text name="IText_lastmsg" text=""/>
  <Button name="openurl" text="打开"/>
</HorizontalLayout>)";

class ToolkitTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Relative skin names and images resolve in this test's own folder.
    static platform::TempFolder skins("velmora-toolkit");
    skinFolder_ = skins.Path();
    ::setenv("VELMORA_SKIN_DIR", skinFolder_.c_str(), 1);
    guitest::EnsureApplication();
    Write("main.xml", kMainSkin);
    Write("row.xml", kRowSkin);
    QImage dot(16, 16, QImage::Format_ARGB32);
    dot.fill(Qt::red);
    dot.save(QString::fromStdString((skinFolder_ / "dot.png").string()));
  }

  static void Write(const std::string& name, const std::string& text) {
    std::ofstream(skinFolder_ / name, std::ios::binary) << text;
  }

  void SetUp() override { ASSERT_TRUE(window_.Create("main.xml", "测试窗口")) << window_.LastError(); }

  CControl& Control(const char* name) {
    CControl* control = window_.Find(name);
    EXPECT_NE(control, nullptr) << name;
    return *control;
  }

  static fs::path skinFolder_;
  RecordingWindow window_;
};

fs::path ToolkitTest::skinFolder_;

TEST(SkinAttributes, ParseTheAttributeForms) {
  EXPECT_EQ(toolkit::ParseSize("420, 200"), (std::pair{420, 200}));
  EXPECT_FALSE(toolkit::ParseSize("420"));
  EXPECT_FALSE(toolkit::ParseSize("4x2"));
  const auto rect = toolkit::ParseRect("1,2,3,-4");
  ASSERT_TRUE(rect);
  EXPECT_EQ(rect->bottom, -4);
  EXPECT_FALSE(toolkit::ParseRect("1,2,3"));
  EXPECT_FALSE(toolkit::ParseRect("1,,3,4"));

  struct Case {
    const char* text;
    const char* file;
    bool hasDest;
  } cases[] = {
      {"file='btn/a.png' dest='0,0,16,16'", "btn/a.png", true},
      {"file='b.png'", "b.png", false},
      {" plain.png ", "plain.png", false},
      {"file='cut.png", "cut.png", false},
      {"", "", false},
  };
  for (const Case& c : cases) {
    const toolkit::ImageRef image = toolkit::ParseImage(c.text);
    EXPECT_EQ(image.file, c.file) << c.text;
    EXPECT_EQ(image.dest.has_value(), c.hasDest) << c.text;
  }

  EXPECT_EQ(toolkit::ParseColour("#2F7CF6"), 0xFF2F7CF6u);
  EXPECT_EQ(toolkit::ParseColour("#802F7CF6"), 0x802F7CF6u);
  EXPECT_FALSE(toolkit::ParseColour("2F7CF6"));
  EXPECT_FALSE(toolkit::ParseColour("#2F7CG6"));
  EXPECT_TRUE(toolkit::ParseBool("1", false));
  EXPECT_FALSE(toolkit::ParseBool("false", true));
  EXPECT_TRUE(toolkit::ParseBool("yes?", true));
}

TEST(SkinFiles, BadFilesGiveClearErrors) {
  EXPECT_NE(toolkit::ParseSkin("<Window><Label></Window>", "bad.xml").error.find("bad.xml"), std::string::npos);
  EXPECT_FALSE(toolkit::ParseSkin("", "empty.xml").root);
  std::string deep;
  for (int i = 0; i <= toolkit::kMaxSkinDepth + 1; ++i) deep += "<VerticalLayout>";
  for (int i = 0; i <= toolkit::kMaxSkinDepth + 1; ++i) deep += "</VerticalLayout>";
  const toolkit::SkinLoad load = toolkit::ParseSkin(deep, "deep.xml");
  EXPECT_FALSE(load.root);
  EXPECT_NE(load.error.find("deeper"), std::string::npos);
  EXPECT_NE(toolkit::LoadSkin("no-such.xml", "/nonexistent").error.find("cannot be opened"), std::string::npos);

  guitest::EnsureApplication();
  CWindow window;
  EXPECT_FALSE(window.Create("/nonexistent/skin.xml", "x"));
  EXPECT_NE(window.LastError().find("cannot be opened"), std::string::npos);
  platform::TempFolder folder;
  std::ofstream(folder.Path() / "menu.xml") << "<Menu/>";
  CWindow notAWindow;
  EXPECT_FALSE(notAWindow.Create((folder.Path() / "menu.xml").string(), "x"));
  EXPECT_NE(notAWindow.LastError().find("not <Window>"), std::string::npos);
}

TEST_F(ToolkitTest, SkinBuildsNamedControlsWithTheirTexts) {
  EXPECT_EQ(window_.WindowText(), "测试窗口");
  EXPECT_EQ(Control("title").Text(), "标题");
  EXPECT_EQ(Control("title").ClassName(), "Label");
  EXPECT_EQ(Control("title").Widget()->objectName(), "title");
  EXPECT_EQ(Control("ok").ClassName(), "Button");
  EXPECT_EQ(Control("search").Attribute("prompt"), "搜索");
  EXPECT_FALSE(Control("hidden").IsVisible());
  EXPECT_TRUE(Control("ok").IsVisible());
  EXPECT_TRUE(Control("optA").IsSelected());
  EXPECT_EQ(Control("sort").ItemCount(), 2);
  EXPECT_EQ(Control("sort").Text(), "按时间");
  EXPECT_EQ(Control("bar2").Value(), 5);
  EXPECT_EQ(Control("tabs").CurrentTab(), 1);
  EXPECT_EQ(window_.Find("nothing"), nullptr);
  EXPECT_EQ(window_.Find(""), nullptr);
  EXPECT_EQ(window_.FindList("ok"), nullptr);
  EXPECT_NE(window_.FindList("rows"), nullptr);
  EXPECT_TRUE(Control("bar").Contains(Control("closebtn")));
  EXPECT_FALSE(Control("closebtn").Contains(Control("bar")));
  EXPECT_EQ(Control("pic").Image(), "file='dot.png' dest='0,0,8,8'");

  // Values set by the window logic; out-of-range values change nothing or
  // are held to the range.
  Control("bar2").SetValue(250);
  EXPECT_EQ(Control("bar2").Value(), 100);
  EXPECT_FALSE(Control("tabs").SelectTab(2));
  EXPECT_EQ(Control("tabs").CurrentTab(), 1);
  EXPECT_TRUE(Control("tabs").SelectTab(0));
  Control("ok").SetText("A&B");
  EXPECT_EQ(Control("ok").Text(), "A&&B");
  EXPECT_TRUE(window_.notes.empty());
}

TEST_F(ToolkitTest, PasswordEditsEchoDots) {
  Write("edits.xml", R"(<Window size="200,80"><VerticalLayout>
    <Edit name="secret" password="true"/><Edit name="plain" password="false"/>
  </VerticalLayout></Window>)");
  CWindow window;
  ASSERT_TRUE(window.Create("edits.xml", "x")) << window.LastError();
  EXPECT_EQ(qobject_cast<QLineEdit*>(window.Find("secret")->Widget())->echoMode(), QLineEdit::Password);
  EXPECT_EQ(qobject_cast<QLineEdit*>(window.Find("plain")->Widget())->echoMode(), QLineEdit::Normal);
  EXPECT_EQ(qobject_cast<QLineEdit*>(Control("search").Widget())->echoMode(), QLineEdit::Normal);
  window.Find("secret")->SetText("密码");
  EXPECT_EQ(window.Find("secret")->Text(), "密码");
}

TEST_F(ToolkitTest, UserActionsNotifyByNameAndKind) {
  window_.Show();
  QTest::mouseClick(Control("ok").Widget(), Qt::LeftButton);
  // Options and tick boxes answer clicks on their mark and caption, at
  // their left.
  const auto markOf = [](QWidget* widget) { return QPoint(6, widget->height() / 2); };
  QTest::mouseClick(Control("optB").Widget(), Qt::LeftButton, {}, markOf(Control("optB").Widget()));
  QTest::mouseClick(Control("tick").Widget(), Qt::LeftButton, {}, markOf(Control("tick").Widget()));
  QTest::keyClicks(Control("search").Widget(), "ab");
  QTest::keyClick(Control("search").Widget(), Qt::Key_Return);
  auto* combo = static_cast<QComboBox*>(Control("sort").Widget());
  emit combo->activated(1);

  std::vector<std::pair<std::string, std::string>> seen;
  for (const Notification& n : window_.notes) seen.emplace_back(n.name, n.kind);
  const std::vector<std::pair<std::string, std::string>> expected{
      {"ok", "click"},          {"optB", "selectchanged"}, {"tick", "selectchanged"},
      {"search", "textchanged"}, {"search", "textchanged"}, {"search", "return"},
      {"sort", "itemselect"}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(window_.notes.back().index, 1);
  EXPECT_EQ(window_.notes.front().control, &Control("ok"));
  // One option of a group at a time; only the chosen one reported.
  EXPECT_TRUE(Control("optB").IsSelected());
  EXPECT_FALSE(Control("optA").IsSelected());
  EXPECT_TRUE(Control("tick").IsSelected());
  EXPECT_EQ(Control("search").Text(), "ab");

  // Changes made by the window logic itself are not reported back.
  const std::size_t before = window_.notes.size();
  Control("optA").SetSelected(true);
  Control("search").SetText("xyz");
  Control("sort").SetCurrentIndex(0);
  EXPECT_EQ(window_.notes.size(), before);
}

TEST_F(ToolkitTest, ListRowsComeFromTheirSkinAndReportTheirRow) {
  toolkit::CList* list = window_.FindList("rows");
  ASSERT_NE(list, nullptr);
  for (int i = 0; i < 3; ++i) {
    toolkit::CListRow* row = list->AddRow("row.xml");
    ASSERT_NE(row, nullptr) << list->LastRowError();
    row->Find("IText_id")->SetText("第" + std::to_string(i) + "行");
    row->SetTag(100 + static_cast<std::uintptr_t>(i));
  }
  EXPECT_EQ(list->RowCount(), 3);
  EXPECT_EQ(list->RowAt(2)->Find("IText_id")->Text(), "第2行");
  EXPECT_EQ(list->RowAt(1)->Tag(), 101u);
  EXPECT_EQ(list->RowAt(1)->Index(), 1);
  EXPECT_EQ(list->RowAt(3), nullptr);
  EXPECT_EQ(list->RowAt(0)->Find("nothing"), nullptr);
  // Row controls are the row's own, not the window's.
  EXPECT_EQ(window_.Find("IText_id"), nullptr);

  window_.Show();
  QTest::mouseClick(list->RowAt(2)->Find("openurl")->Widget(), Qt::LeftButton);
  ASSERT_FALSE(window_.notes.empty());
  EXPECT_EQ(window_.notes.back().name, "openurl");
  EXPECT_EQ(window_.notes.back().list, list);
  EXPECT_EQ(window_.notes.back().row, 2);

  static_cast<QListWidget*>(list->Widget())->setCurrentRow(1);
  EXPECT_EQ(window_.notes.back().kind, "itemselect");
  EXPECT_EQ(window_.notes.back().index, 1);
  EXPECT_EQ(list->SelectedIndex(), 1);
  const std::size_t before = window_.notes.size();
  list->Select(0);
  EXPECT_EQ(list->SelectedIndex(), 0);
  EXPECT_EQ(window_.notes.size(), before);

  // A row is as high as its skin says, and a row whose text grew takes the
  // height it needs once redrawn.
  auto* widget = static_cast<QListWidget*>(list->Widget());
  EXPECT_EQ(widget->item(1)->sizeHint().height(), 30);
  const int oldHeight = widget->item(0)->sizeHint().height();
  CControl* text = list->RowAt(0)->Find("IText_lastmsg");
  text->SetText("一\n二\n三\n四\n五");
  list->RowAt(0)->Widget()->setFixedHeight(QWIDGETSIZE_MAX);
  list->RowAt(0)->Widget()->setMinimumHeight(0);
  list->RedrawRow(0);
  EXPECT_GT(widget->item(0)->sizeHint().height(), oldHeight);

  EXPECT_EQ(list->AddRow("missing-row.xml"), nullptr);
  EXPECT_NE(list->LastRowError().find("cannot be opened"), std::string::npos);
  EXPECT_EQ(list->RowCount(), 3);
  list->RemoveAll();
  EXPECT_EQ(list->RowCount(), 0);
  EXPECT_EQ(widget->count(), 0);
}

TEST_F(ToolkitTest, ModalLoopReturnsTheCloseValue) {
  window_.onNotify = [this](const Notification& n) {
    if (n.name == "ok") window_.Close(7);
  };
  guitest::RunSoon([this] {
    EXPECT_TRUE(window_.IsShown());
    QTest::mouseClick(Control("ok").Widget(), Qt::LeftButton);
  });
  EXPECT_EQ(window_.ShowModal(), 7);
  EXPECT_FALSE(window_.IsShown());

  // Closed by the system (the window manager's close): the cancel value.
  guitest::RunSoon([this] { window_.Widget()->close(); });
  EXPECT_EQ(window_.ShowModal(), toolkit::kResultCancel);
}

TEST_F(ToolkitTest, PostedMessagesArriveInOrderOnTheUiThread) {
  const std::thread::id uiThread = std::this_thread::get_id();
  std::thread worker([this] {
    for (int i = 0; i < 50; ++i) window_.Post(0x816D, 0, i);
    window_.Post(toolkit::kWmClose, 5, 0);
  });
  EXPECT_EQ(window_.ShowModal(), 5);
  worker.join();
  ASSERT_EQ(window_.messages.size(), 50u);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(window_.messages[static_cast<std::size_t>(i)].first, 0x816Du);
    EXPECT_EQ(window_.messages[static_cast<std::size_t>(i)].second, i);
    EXPECT_EQ(window_.messageThreads[static_cast<std::size_t>(i)], uiThread);
  }
}

TEST_F(ToolkitTest, TimersTickByTheirNumberUntilKilled) {
  window_.onTimer = [this](int id) {
    if (id == 1010 && window_.timerTicks.size() == 3) {
      window_.KillTimer(1010);
      window_.Close(3);
    }
  };
  window_.SetTimer(1010, 1);
  window_.SetTimer(1011, 60000);
  EXPECT_TRUE(window_.HasTimer(1010));
  EXPECT_EQ(window_.ShowModal(), 3);
  EXPECT_EQ(window_.timerTicks, (std::vector<int>{1010, 1010, 1010}));
  EXPECT_FALSE(window_.HasTimer(1010));
  EXPECT_TRUE(window_.HasTimer(1011));
  window_.KillTimer(1011);
  EXPECT_FALSE(window_.HasTimer(1011));
}

TEST_F(ToolkitTest, CaptionAndSizeBoxAreasForMovingAndSizing) {
  window_.Show();
  QWidget* content = window_.ContentWidget();
  const int width = content->width();
  const int height = content->height();
  auto centreOf = [content](CControl& control) {
    return control.Widget()->mapTo(content, control.Widget()->rect().center());
  };
  const QPoint title = centreOf(Control("title"));
  const QPoint note = centreOf(Control("note"));
  const QPoint close = centreOf(Control("closebtn"));
  struct Case {
    const char* what;
    QPoint point;
    HitArea expected;
  } cases[] = {
      {"label in the caption", title, HitArea::kCaption},
      {"Text control in the caption", note, HitArea::kClient},
      {"button in the caption", close, HitArea::kClient},
      {"below the caption", {width / 2, 60}, HitArea::kClient},
      {"left edge", {1, height / 2}, HitArea::kLeft},
      {"right edge", {width - 2, height / 2}, HitArea::kRight},
      {"top edge", {width / 2, 1}, HitArea::kTop},
      {"bottom right corner", {width - 1, height - 1}, HitArea::kBottomRight},
      {"outside", {-5, 10}, HitArea::kClient},
  };
  for (const Case& c : cases) EXPECT_EQ(window_.HitTest(c.point.x(), c.point.y()), c.expected) << c.what;

  // Dragging the caption moves the window (by the window system, or by hand
  // where the platform cannot).
  const QPoint before = window_.Widget()->pos();
  QWidget* titleWidget = Control("title").Widget();
  QTest::mousePress(titleWidget, Qt::LeftButton, {}, titleWidget->rect().center());
  QTest::mouseMove(titleWidget, titleWidget->rect().center() + QPoint(30, 20));
  QTest::mouseRelease(titleWidget, Qt::LeftButton, {}, titleWidget->rect().center() + QPoint(30, 20));
  EXPECT_EQ(window_.Widget()->pos(), before + QPoint(30, 20));

  // Dragging the size box's corner resizes it.
  const QSize size = window_.Widget()->size();
  const QPoint corner = content->mapTo(window_.Widget(), QPoint(width - 1, height - 1));
  QTest::mousePress(window_.Widget(), Qt::LeftButton, {}, corner);
  QTest::mouseMove(window_.Widget(), corner + QPoint(40, 30));
  QTest::mouseRelease(window_.Widget(), Qt::LeftButton, {}, corner + QPoint(40, 30));
  EXPECT_EQ(window_.Widget()->size(), size + QSize(40, 30));
}

TEST_F(ToolkitTest, RendersToPngWithItsShadow) {
  const platform::TempFolder out;
  const fs::path file = out.Path() / "main.png";
  ASSERT_TRUE(window_.RenderToPng(file));
  QImage image(QString::fromStdString(file.string()));
  ASSERT_FALSE(image.isNull());
  // 400 x 300 of content and two shadow steps of 4 pixels on each side.
  EXPECT_EQ(image.size(), QSize(416, 316));
  EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);                // outside the shadow's round corner
  EXPECT_GT(qAlpha(image.pixel(7, 150)), 0);              // the shadow next to the frame
  EXPECT_EQ(qAlpha(image.pixel(208, 158)), 255);          // the frame itself
  EXPECT_FALSE(window_.RenderToPng("/nonexistent/folder/x.png"));
}

TEST_F(ToolkitTest, TheInterfaceFontDrawsChinese) {
  const QFontMetrics metrics(QApplication::font());
  EXPECT_TRUE(metrics.inFontUcs4(U'提')) << QApplication::font().family().toStdString();
  EXPECT_TRUE(metrics.inFontUcs4(U'录'));
}

TEST_F(ToolkitTest, MenusFromSkinsReturnTheChosenItem) {
  Write("menu.xml", R"(<Menu>
    <MenuItem name="About" text="关于"/>
    <MenuSeparator/>
    <Menu text="更多"><MenuItem name="Help" text="帮助"/></Menu>
    <MenuItem name="Exit" text="退出"/>
  </Menu>)");
  toolkit::CMenuEx menu;
  ASSERT_TRUE(menu.Load("menu.xml")) << menu.LastError();
  QStringList texts;
  for (QAction* action : menu.Menu()->actions()) texts << action->text();
  EXPECT_EQ(texts, (QStringList{"关于", "", "更多", "退出"}));

  guitest::RunSoon([&menu] {
    for (QAction* action : menu.Menu()->actions())
      if (action->data().toString() == "Exit") menu.Menu()->setActiveAction(action);
    QTest::keyClick(menu.Menu(), Qt::Key_Return);
  });
  EXPECT_EQ(menu.Popup(10, 10), "Exit");
  guitest::RunSoon([&menu] { menu.Menu()->close(); });
  EXPECT_EQ(menu.Popup(10, 10), "");

  toolkit::CMenuEx wrong;
  EXPECT_FALSE(wrong.Load("main.xml"));
  EXPECT_NE(wrong.LastError().find("not <Menu>"), std::string::npos);
}

}  // namespace
