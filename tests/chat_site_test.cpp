#include "export/chat_site.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <vector>

#include "db/item_time.h"
#include "export/export_writer.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "platform/text_codec.h"

namespace {

namespace fs = std::filesystem;
using exporting::ChatMessageView;
using exporting::CExportWriter;

constexpr double kTime = 1700000000;  // 2023-11-15 06:13:20 in the tests' zone

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

class FakeConversation : public exporting::ChatConversation {
 public:
  std::size_t MessageCount() const override { return messages.size(); }
  ChatMessageView Message(std::size_t index) const override { return messages.at(index); }
  std::vector<ChatMessageView> messages;
};

ChatMessageView TextMessage(const std::string& text, bool fromOwner, bool deleted = false) {
  ChatMessageView m;
  m.time = kTime;
  m.senderDisplayName = fromOwner ? "我" : "张三";
  m.senderUserName = fromOwner ? "wxid_me" : "zhangsan";
  m.fromOwner = fromOwner;
  m.fromConversation = !fromOwner;
  m.deleted = deleted;
  m.text = text;
  m.contentHtml = exporting::EscapeHtml(text);
  return m;
}

ChatMessageView Picture(const std::string& mediaPath) {
  ChatMessageView m = TextMessage("[图片]", false);
  m.picture = true;
  m.mediaPath = mediaPath;
  return m;
}

std::unique_ptr<FakeConversation> Conversation(const std::string& displayName, const std::string& userName,
                                               std::vector<ChatMessageView> messages) {
  auto c = std::make_unique<FakeConversation>();
  c->displayName = displayName;
  c->userName = userName;
  c->messages = std::move(messages);
  return c;
}

class RecordingProgress : public exporting::IExportProgress {
 public:
  void SetProgress(float percent) override { value = percent; }
  void AddProgress(float delta) override { value += delta; }
  float value = 0;
};

// Every regular file below folder, as paths relative to it.
std::set<std::string> FilesBelow(const fs::path& folder) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), folder).generic_string());
  }
  return files;
}

TEST(FillTemplate, InsertedValuesAreNeverReplacedAgain) {
  struct Case {
    const char* name;
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"value holds a later placeholder", "$A-$B", "$B-b"},
      {"value holds its own placeholder", "$B $B", "b b"},
      {"longer placeholder wins", "$AB/$A", "ab/$B"},
      {"unknown placeholder and lone dollar stay", "$C $ $", "$C $ $"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(exporting::FillTemplate(c.text, {{"$A", "$B"}, {"$B", "b"}, {"$AB", "ab"}}), c.expected) << c.name;
  }
}

TEST(UrlPathPart, EncodesWhatWouldBreakARelativeAddress) {
  EXPECT_EQ(exporting::UrlPathPart("张三"), "张三");
  EXPECT_EQ(exporting::UrlPathPart("a#b%c?d"), "a%23b%25c%3Fd");
  EXPECT_EQ(exporting::UrlPathPart("x\"><script>&'"), "x%22%3E%3Cscript%3E%26%27");
  EXPECT_EQ(exporting::UrlPathPart("a b\t"), "a%20b%09");
  EXPECT_EQ(exporting::UrlPathPart("javascript:x"), "javascript%3Ax");
}

// The CSV lines of both chat categories, as the writer collects them.
TEST(ChatCsvLine, WeChatAndQqForms) {
  const std::string time = db::FormatItemTime(kTime);
  ASSERT_EQ(time, "2023-11-15 06:13:20 ");
  struct Case {
    const char* name;
    int category;
    std::string conversation;
    std::string senderDisplay;
    std::string senderUser;
    bool fromConversation;
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"wechat", 2, "张三", "张三", "zhangsan", true, "你好", "张三,张三/zhangsan," + time + ",已接收,\"你好\"\r\n"},
      {"wechat removes line breaks", 2, "张三", "我", "wxid_me", false, "a,b\r\nc",
       "张三,我/wxid_me," + time + ",已发送,\"a，bc\"\r\n"},
      {"qq sender named by number", 0, "群", "12345", "12345", false, "a\nb",
       "群,12345," + time + ",已发送,\"a\nb\"\r\n"},
      {"qq sender with a nickname", 0, "群", "Tom", "12345", true, "x",
       "群,Tom/12345," + time + ",已接收,\"x\"\r\n"},
      {"commas in names stay in their columns", 2, "A,B", "C,D", "e", true, "t",
       "\"A，B\",\"C，D/e\"," + time + ",已接收,\"t\"\r\n"},
  };
  for (const Case& c : cases) {
    CExportWriter writer(nullptr, c.category);
    ChatMessageView m = TextMessage(c.text, !c.fromConversation);
    m.senderDisplayName = c.senderDisplay;
    m.senderUserName = c.senderUser;
    m.fromConversation = c.fromConversation;
    writer.AddConversation(Conversation(c.conversation, "u", {m}));
    EXPECT_EQ(writer.CsvText(), c.expected) << c.name;
  }
}

class ChatSite : public ::testing::Test {
 protected:
  // The site folder of an export below temp_, with the given account name.
  fs::path Site(const CExportWriter& writer, const std::string& account) const {
    return writer.Folder() / "网页格式" / account;
  }

  platform::TempFolder temp_{"velmora-site"};
};

TEST_F(ChatSite, WritesFramePageNavigationChatPagesPicturesAndTables) {
  const fs::path media = temp_.Path() / "backup";
  WriteText(media / "Img" / "pic.jpg", "jpeg bytes");
  WriteText(temp_.Path() / "outside.jpg", "not from the backup");

  RecordingProgress progress;
  CExportWriter writer(&progress, 2);
  writer.BeginCategory(temp_.Path() / "save", "iPhone");
  writer.BeginList(2);
  writer.SetHeader("对话分组名,微信帐号,日期,消息类型,消息内容\r\n");
  writer.SetAccount({"Lin Wei", media, {}});

  std::vector<ChatMessageView> roomMessages;
  for (int i = 0; i < 12; ++i) roomMessages.push_back(TextMessage("m" + std::to_string(i), i % 2 == 0, i < 3));
  auto room = Conversation("同学群", "123@chatroom", std::move(roomMessages));
  room->chatRoom = true;
  room->deleted = true;
  room->deletedCount = 3;
  writer.AddConversation(std::move(room));

  ChatMessageView emoji = Picture("http://emoji.qpic.cn/a.gif?x=1&y=2");
  emoji.fromOwner = true;
  auto contact = Conversation("张三", "zhangsan",
                              {TextMessage("你好", false), Picture(media.string() + "/Img/pic.jpg"), emoji,
                               Picture((temp_.Path() / "outside.jpg").string()), Picture("")});
  contact->avatarUrl = "http://wx.qlogo.cn/head/0";
  writer.AddConversation(std::move(contact));
  EXPECT_TRUE(writer.Finish().Ok());
  EXPECT_FALSE(writer.WriteFailed());

  const fs::path site = Site(writer, "LinWei");
  const std::string frame = ReadText(site / "全部微信聊天记录.html");
  EXPECT_TRUE(Has(frame, "<title>全部微信聊天记录</title>"));
  EXPECT_TRUE(Has(frame, "src=\"同学群/同学群的微信聊天记录.html\" name=\"showframe\""));

  const std::string nav = ReadText(site / "assets" / "navigation.html");
  EXPECT_TRUE(Has(nav, "<div class=\"nav-col\">微信好友</div>"));
  EXPECT_TRUE(Has(nav, " <a class=\"nav-row nav-trow nav-group nav--deleted\" "
                       "href=\"../同学群/同学群的微信聊天记录.html\" target=\"showframe\">"));
  EXPECT_TRUE(Has(nav, "data-src=\"images/group_20.png\"/>\t<span class=\"nav-layout__item\">同学群</span>"));
  EXPECT_TRUE(Has(nav, "<span><span>[12/3]</span></span>"));
  EXPECT_TRUE(Has(nav, "<a class=\"nav-row nav-trow\" href=\"../张三/张三的微信聊天记录.html\""));
  EXPECT_TRUE(Has(nav, "data-src=\"http://wx.qlogo.cn/head/0\""));
  EXPECT_TRUE(Has(nav, "<span><span>[5]</span></span>"));
  EXPECT_LT(nav.find("同学群"), nav.find("张三"));

  const std::string roomPage = ReadText(site / "同学群" / "同学群的微信聊天记录.html");
  EXPECT_TRUE(Has(roomPage, "<title>同学群的微信聊天记录</title>"));
  EXPECT_EQ(Count(roomPage, "wx-msg-row--me"), 6u);
  EXPECT_EQ(Count(roomPage, "wx-msg-row--other"), 6u);
  EXPECT_EQ(Count(roomPage, " wx-msg-row--delete\""), 3u);
  EXPECT_TRUE(Has(roomPage, "<div class=\"wx-date\">2023-11-15 06:13:20 </div>"));
  EXPECT_TRUE(Has(roomPage, "<div class=\"wx-msg__username\">我</div>"));
  EXPECT_TRUE(Has(roomPage, "<span>m11</span>"));

  const std::string page = ReadText(site / "张三" / "张三的微信聊天记录.html");
  EXPECT_EQ(Count(page, "wx-msg-img--plain"), 4u);
  EXPECT_TRUE(Has(page, "<a href=\"微信附件/pic.jpg\" target=\"_blank\">\t<img data-src=\"微信附件/pic.jpg\""));
  EXPECT_TRUE(Has(page, "<img data-src=\"http://emoji.qpic.cn/a.gif?x=1&amp;y=2\""));
  EXPECT_EQ(Count(page, "<img data-src=\"微信附件/\" alt=\"\">"), 2u);  // outside the backup, and none
  EXPECT_EQ(ReadText(site / "张三" / "微信附件" / "pic.jpg"), "jpeg bytes");
  EXPECT_EQ(FilesBelow(site / "张三" / "微信附件"), std::set<std::string>{"pic.jpg"});
  EXPECT_TRUE(fs::is_directory(site / "同学群" / "微信附件"));

  const fs::path tables = writer.Folder() / "表格格式";
  const std::string all = platform::Gb18030ToUtf8(ReadText(tables / "微信聊天记录.csv"));
  EXPECT_EQ(Count(all, "\r\n"), 1u + 12u + 5u);
  const std::string own = platform::Gb18030ToUtf8(ReadText(tables / "LinWei" / "张三" / "张三的微信聊天记录.csv"));
  EXPECT_EQ(own.substr(0, own.find("\r\n") + 2), "对话分组名,微信帐号,日期,消息类型,消息内容\r\n");
  EXPECT_TRUE(Has(own, "张三,张三/zhangsan,2023-11-15 06:13:20 ,已接收,\"你好\"\r\n"));
  EXPECT_EQ(Count(own, "\r\n"), 6u);
  EXPECT_TRUE(fs::exists(tables / "LinWei" / "同学群" / "同学群的微信聊天记录.csv"));

  for (const char* asset : {"css/nav.css", "css/weixin.css", "js/page.js", "images/group_20.png",
                            "images/contact_20.png"}) {
    EXPECT_TRUE(platform::IsRegularFile(site / "assets" / asset)) << asset;
  }
  EXPECT_NEAR(progress.value, 100, 0.01);
}

TEST_F(ChatSite, QqSiteUsesItsWordsAndAnUnknownAccountName) {
  CExportWriter writer(nullptr, 0);
  writer.BeginCategory(temp_.Path(), "iPhone");
  writer.BeginList(1);
  writer.SetHeader("对话分组名,QQ帐号,消息时间,消息类别,聊天内容\r\n");
  // QQ shows the program's placeholder for a picture; it is copied like a
  // picture of the backup, and a missing one still gives its message.
  const fs::path skin = temp_.Path() / "skin";
  WriteText(skin / "movietype.png", "placeholder");
  writer.SetAccount({"", temp_.Path() / "backup", skin});
  writer.AddConversation(Conversation("", "10001",
                                      {TextMessage("hi", false), Picture((skin / "movietype.png").string()),
                                       Picture((skin / "gone.png").string())}));
  EXPECT_TRUE(writer.Finish().Ok());

  const fs::path site = Site(writer, "本地未知用户");
  EXPECT_TRUE(Has(ReadText(site / "assets" / "navigation.html"), "<div class=\"nav-col\">QQ好友</div>"));
  EXPECT_TRUE(Has(ReadText(site / "全部QQ聊天记录.html"), "src=\"10001/10001的QQ聊天记录.html\""));
  EXPECT_TRUE(fs::is_directory(site / "10001" / "QQ附件"));
  const std::string page = ReadText(site / "10001" / "10001的QQ聊天记录.html");
  EXPECT_EQ(Count(page, "<img data-src=\"QQ附件/movietype.png\""), 1u);
  EXPECT_EQ(Count(page, "<img data-src=\"QQ附件/\""), 1u);
  EXPECT_EQ(ReadText(site / "10001" / "QQ附件" / "movietype.png"), "placeholder");
  const std::string own =
      platform::Gb18030ToUtf8(ReadText(writer.Folder() / "表格格式" / "本地未知用户" / "10001" / "10001的QQ聊天记录.csv"));
  EXPECT_EQ(own.substr(0, own.find("\r\n") + 2), "对话分组名,QQ帐号,消息时间,消息类别,聊天内容\r\n");
}

// Names and texts from the phone are shown, never run, and never lead out of
// the site's folder; a placeholder's name in data stays text.
TEST_F(ChatSite, HostileNamesAreEscapedAndStayInside) {
  CExportWriter writer(nullptr, 2);
  writer.BeginCategory(temp_.Path() / "save", "iPhone");
  writer.BeginList(4);
  writer.SetHeader("h\r\n");
  writer.SetAccount({"../..", temp_.Path(), {}});

  ChatMessageView hostile = TextMessage("<b>", false);
  hostile.senderDisplayName = "<script>alert(1)</script>";
  hostile.senderAvatarUrl = "x\" onerror=\"alert(1)";
  hostile.contentHtml = "<a href=\"http://a.cn\">$Title</a>";
  auto first = Conversation("<script>\"$Title#1", "u1", {hostile});
  first->avatarUrl = "\"><script>";
  writer.AddConversation(std::move(first));
  writer.AddConversation(Conversation("..", "..", {TextMessage("a", false)}));
  writer.AddConversation(Conversation("同名", "u3", {TextMessage("b", false)}));
  writer.AddConversation(Conversation("同名", "u4", {TextMessage("c", false)}));
  EXPECT_TRUE(writer.Finish().Ok());

  const fs::path site = Site(writer, "本地未知用户");
  const std::string name = "script$Title#1";  // < > " removed by the sanitising
  const std::string title = name + "的微信聊天记录";
  const std::string nav = ReadText(site / "assets" / "navigation.html");
  EXPECT_FALSE(Has(nav, "<script>\""));
  EXPECT_TRUE(Has(nav, "data-src=\"&quot;&gt;&lt;script&gt;\""));
  EXPECT_TRUE(Has(nav, "href=\"../script$Title%231/script$Title%231的微信聊天记录.html\""));
  EXPECT_TRUE(Has(nav, "<span class=\"nav-layout__item\">script$Title#1</span>"));
  EXPECT_TRUE(Has(ReadText(site / "全部微信聊天记录.html"), "src=\"script$Title%231/script$Title%231的微信聊天记录.html\""));

  const std::string page = ReadText(site / name / (title + ".html"));
  EXPECT_TRUE(Has(page, "<title>" + title + "</title>"));
  EXPECT_EQ(Count(page, "<script>"), 1u);  // the page's own script only
  EXPECT_TRUE(Has(page, "&lt;script&gt;alert(1)&lt;/script&gt;"));
  EXPECT_TRUE(Has(page, "<img data-src=\"x&quot; onerror=&quot;alert(1)\""));
  EXPECT_TRUE(Has(page, "<span><a href=\"http://a.cn\">$Title</a></span>"));

  // ".." as both names: a numbered fallback; one name twice: two folders.
  EXPECT_TRUE(fs::exists(site / "对话2" / "对话2的微信聊天记录.html"));
  EXPECT_TRUE(fs::exists(site / "同名" / "同名的微信聊天记录.html"));
  EXPECT_TRUE(fs::exists(site / "同名 2" / "同名 2的微信聊天记录.html"));
  EXPECT_TRUE(Has(nav, "href=\"../同名%202/同名%202的微信聊天记录.html\""));
  for (const auto& entry : fs::recursive_directory_iterator(temp_.Path())) {
    if (!entry.is_regular_file()) continue;
    const std::string path = fs::weakly_canonical(entry.path()).string();
    EXPECT_EQ(path.rfind(fs::weakly_canonical(writer.Folder()).string(), 0), 0u) << path;
  }
}

class SkinFolderOverride {
 public:
  explicit SkinFolderOverride(const fs::path& folder) { ::setenv("VELMORA_SKIN_DIR", folder.c_str(), 1); }
  ~SkinFolderOverride() { ::unsetenv("VELMORA_SKIN_DIR"); }
  SkinFolderOverride(const SkinFolderOverride&) = delete;
  SkinFolderOverride& operator=(const SkinFolderOverride&) = delete;
};

// Without its assets the site could not be used: the frame page alone is
// written and the export says it is incomplete.
TEST_F(ChatSite, MissingAssetArchiveLeavesTheFramePageOnly) {
  fs::create_directories(temp_.Path() / "skin" / "html");
  const SkinFolderOverride skin(temp_.Path() / "skin");
  CExportWriter writer(nullptr, 2);
  writer.BeginCategory(temp_.Path() / "save", "iPhone");
  writer.BeginList(1);
  writer.SetHeader("h\r\n");
  writer.SetAccount({"me", temp_.Path(), {}});
  writer.AddConversation(Conversation("张三", "zhangsan", {TextMessage("x", false)}));
  const base::Status finished = writer.Finish();
  EXPECT_FALSE(finished.Ok());
  EXPECT_EQ(fs::path(finished.File()).filename(), "assets") << finished.Text();
  EXPECT_EQ(FilesBelow(writer.Folder()),
            (std::set<std::string>{"网页格式/me/全部微信聊天记录.html", "表格格式/微信聊天记录.csv"}));
}

TEST(SiteAssets, TheBuiltArchiveHoldsTheFiveAssets) {
  const fs::path archivePath = platform::SkinFolder() / "html" / "assets.7z";
  archive* reader = archive_read_new();
  archive_read_support_format_7zip(reader);
  ASSERT_EQ(archive_read_open_filename(reader, archivePath.c_str(), 16384), ARCHIVE_OK) << archivePath;
  std::set<std::string> files;
  archive_entry* entry = nullptr;
  while (archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
    if (archive_entry_filetype(entry) == AE_IFREG) files.insert(archive_entry_pathname(entry));
  }
  archive_read_free(reader);
  EXPECT_EQ(files, (std::set<std::string>{"css/nav.css", "css/weixin.css", "images/contact_20.png",
                                          "images/group_20.png", "js/page.js"}));
}

// An archive whose entries try to leave the assets folder: only the plain
// file is written, and the unpacking says it was not complete.
TEST(SiteAssets, UnpackingKeepsEveryEntryInsideTheFolder) {
  platform::TempFolder temp("velmora-assets");
  const fs::path archivePath = temp.Path() / "hostile.7z";
  archive* writer = archive_write_new();
  archive_write_set_format_7zip(writer);
  ASSERT_EQ(archive_write_open_filename(writer, archivePath.c_str()), ARCHIVE_OK);
  const auto add = [writer](const char* name, unsigned type, const std::string& data, const char* link = nullptr) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, name);
    archive_entry_set_filetype(entry, type);
    archive_entry_set_perm(entry, 0644);
    if (link != nullptr) archive_entry_set_symlink(entry, link);
    archive_entry_set_size(entry, static_cast<la_int64_t>(data.size()));
    archive_write_header(writer, entry);
    if (!data.empty()) archive_write_data(writer, data.data(), data.size());
    archive_entry_free(entry);
  };
  add("css/ok.css", AE_IFREG, "body{}");
  add("../escaped.txt", AE_IFREG, "x");
  add("/tmp/velmora-absolute.txt", AE_IFREG, "x");
  add("js", AE_IFLNK, "", "/tmp");
  add("js/evil.js", AE_IFREG, "x");
  archive_write_close(writer);
  archive_write_free(writer);

  const fs::path assets = temp.Path() / "site" / "assets";
  fs::create_directories(assets.parent_path());
  EXPECT_FALSE(exporting::UnpackSiteAssets(archivePath, assets));
  EXPECT_EQ(FilesBelow(temp.Path() / "site"), (std::set<std::string>{"assets/css/ok.css", "assets/js/evil.js"}));
  EXPECT_FALSE(fs::is_symlink(assets / "js"));
  EXPECT_FALSE(fs::exists(temp.Path() / "escaped.txt"));
  EXPECT_FALSE(fs::exists("/tmp/velmora-absolute.txt"));
  EXPECT_FALSE(exporting::UnpackSiteAssets(temp.Path() / "missing.7z", assets));
}

TEST(CopyChatPicture, CopiesOnlyFilesFromInsideTheMediaRoot) {
  platform::TempFolder temp("velmora-picture");
  const fs::path root = temp.Path() / "backup";
  WriteText(root / "a" / "1.pic", "one");
  WriteText(temp.Path() / "secret.jpg", "secret");
  fs::create_symlink(temp.Path() / "secret.jpg", root / "a" / "link.jpg");
  const fs::path out = temp.Path() / "out";
  fs::create_directories(out);
  WriteText(out / "kept.jpg", "older copy");
  WriteText(root / "kept.jpg", "newer");
  struct Case {
    const char* name;
    std::string mediaPath;
    std::string expected;
  };
  const Case cases[] = {
      {"inside", (root / "a" / "1.pic").string(), "1.pic"},
      {"relative to the root", "a/1.pic", "1.pic"},
      {"outside", (temp.Path() / "secret.jpg").string(), ""},
      {"dot-dot out", (root / ".." / "secret.jpg").string(), ""},
      {"link out", (root / "a" / "link.jpg").string(), ""},
      {"missing", (root / "none.jpg").string(), ""},
      {"a folder", (root / "a").string(), ""},
      {"existing copy kept", (root / "kept.jpg").string(), "kept.jpg"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(exporting::CopyChatPicture(c.mediaPath, root, out), c.expected) << c.name;
  }
  EXPECT_EQ(FilesBelow(out), (std::set<std::string>{"1.pic", "kept.jpg"}));
  EXPECT_EQ(ReadText(out / "kept.jpg"), "older copy");
  EXPECT_EQ(exporting::CopyChatPicture((root / "a" / "1.pic").string(), fs::path(), out), "");
}

}  // namespace
