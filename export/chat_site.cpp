// The chat site of the chat categories: its page templates, the pieces the
// export writer fills them with, the unpacking of its assets, and the
// writer's chat half (SetAccount, AddConversation, WriteChatSite).
#include "export/chat_site.h"

#include <archive.h>
#include <archive_entry.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>

#include "backup/encrypted_backup.h"
#include "db/item_time.h"
#include "db/text.h"
#include "export/export_writer.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "platform/text_codec.h"

namespace exporting {
namespace {

namespace fs = std::filesystem;

// The three pages of the site begin alike.
constexpr std::string_view kSitePageStart =
    "<!doctype html>\n"
    "<!--[if IE 8 ]><html class=\"ie8\" lang=\"zh-cn\"><![endif]-->\n"
    "<!--[if IE 9 ]><html class=\"ie9\" lang=\"zh-cn\"><![endif]-->\n"
    "<!--[if (gt IE 9)|!(IE)]><!--><html class=\"\" lang=\"zh-cn\"><!--<![endif]-->\n";

constexpr std::string_view kFramePage =
    "<head>\n"
    "<meta http-equiv=\"X-UA-Compatible\" content=\"IE=8\" />\n"
    "<meta charset=\"utf-8\" />\n"
    "<title>全部$AppName</title>\n"
    "</head>\n"
    "<frameset framespacing=\"0\"  cols=\"350,*\" border=\"0\">\n"
    "<frame frameborder=\"0\" noresize src=\"assets/navigation.html\">\n"
    "<frame frameborder=\"0\" noresize src=\"$UserName/$UserName的$AppName.html\" name=\"showframe\">\n"
    "</frameset>\n"
    "</html>\n";

constexpr std::string_view kNavigationPage =
    "<head>\n"
    "<meta http-equiv=\"X-UA-Compatible\" content=\"IE=8\" />\n"
    "<meta charset=\"utf-8\"/>\n"
    "<title>Navigation</title>\n"
    "<link rel=\"stylesheet\" href=\"css/nav.css\">\n"
    "</head>\n"
    "<body>\n"
    "<div class=\"nav-row nav-row-title\">"
    "<div class=\"nav-col\"></div>"
    "<div class=\"nav-col\">$AppType好友</div>"
    "<div class=\"nav-col\">消息条目</div>"
    "</div>\n"
    "$ListContent\n"
    "</body>\n"
    "<script src=\"js/page.js\"></script>\n"
    "<script>\n"
    "(function () {\n"
    "  var rows = document.getElementsByClassName(\"nav-trow\");\n"
    "  function select(row) {\n"
    "    for (var i = 0; i < rows.length; i++) {\n"
    "      rows[i].className = rows[i].className.replace(/ ?\\bselected\\b/g, \"\");\n"
    "    }\n"
    "    row.className += \" selected\";\n"
    "  }\n"
    "  for (var i = 0; i < rows.length; i++) {\n"
    "    rows[i].className += i % 2 === 0 ? \" even\" : \" odd\";\n"
    "    rows[i].onclick = function () { select(this); };\n"
    "  }\n"
    "  if (rows.length > 0) rows[0].className += \" selected\";\n"
    "  addError(\".nav-trow img\");\n"
    "})();\n"
    "</script>\n"
    "</html>\n";

// $Title and $MessageList are filled in one pass; the links of the notice
// lead to a web search for Chrome and to the home page of the Sogou browser.
constexpr std::string_view kChatPage =
    "<head>\n"
    "<meta http-equiv=\"X-UA-Compatible\" content=\"IE=8\"/>\n"
    "<meta charset=\"utf-8\"/>\n"
    "<title>$Title</title>\n"
    "<link rel=\"stylesheet\" href=\"../assets/css/weixin.css?v=1458787378702\">\n"
    "</head>\n"
    "<body>\n"
    "<div class=\"wx-notice-row\"><div class=\"wx-notice\">为了获得更好的浏览体验，推荐您使用最新"
    "<a href=\"https://www.baidu.com/s?wd=Chrome%E6%B5%8F%E8%A7%88%E5%99%A8\" target=\"_blank\" "
    "rel=\"noopener noreferrer\"> Chrome浏览器 </a>或者"
    "<a href=\"https://ie.sogou.com/\" target=\"_blank\" rel=\"noopener noreferrer\"> 搜狗浏览器 </a>"
    "打开本聊天记录HTML文件</div></div>\n"
    "<div class=\"wx-container\">\n"
    "$MessageList\n"
    "</div>\n"
    "</body>\n"
    "<script src=\"../assets/js/page.js\"></script>\n"
    "<script>\n"
    "window.onload = function () {};\n"
    "addError(\".wx-msg__user-logo img\", {});\n"
    "addError(\".wx-msg-img__bg img\", { loadClassName: \".wx-msg-img__bg\" });\n"
    "</script>\n"
    "</html>\n";

// The link of a navigation row carries the names as address pieces
// ($UserNameUrl, $TitleUrl), its text the name as page text ($UserName).
constexpr std::string_view kNavigationRow =
    " <a class=\"nav-row nav-trow$GroupTag$DeleteTag\" href=\"../$UserNameUrl/$TitleUrl.html\" "
    "target=\"showframe\"><div class=\"nav-col\"></div>\t<div class=\"nav-col\">\t<div class=\"nav-layout "
    "inline-block-center\">\t<img class=\"nav-layout__item\" data-src=\"$UserlogoUrl\"/>\t<span "
    "class=\"nav-layout__item\">$UserName</span>\t</div>\t</div>\t<div class=\"nav-col\">\t<span><span>$ItemCount"
    "</span></span>\t</div>\t</a>\n";

constexpr std::string_view kTextMessage =
    "<div class=\"wx-row wx-sys-row wx-sys-row-v2 wx-sys-row--date\"><div class=\"wx-row__item "
    "wx-sys-row__item\">\t<div class=\"wx-date\">$Date</div>\t</div>\t</div>\t<div class=\"wx-row wx-msg-row "
    "wx-msg-row--$SenderTag$DeleteMsgTag\">\t<div class=\"wx-layout wx-msg\">\t<div class=\"wx-layout__item "
    "wx-msg__user-logo\">\t<img data-src=\"$UserlogoUrl\" alt=\"\">\t</div>\t<div class=\"wx-layout__item "
    "wx-msg__content\">\t<div class=\"wx-msg__username\">$UserName</div>\t<div class=\"wx-msg__body\">\t<div "
    "class=\"wx-state--deleted\"></div>\t<div class=\"wx-state--error\"></div>\t<span>$Content</span>\t</div>\t"
    "</div>\t</div>\t</div>\n";

constexpr std::string_view kPictureMessage =
    "<div class=\"wx-row wx-sys-row wx-sys-row-v2 wx-sys-row--date\"><div class=\"wx-row__item "
    "wx-sys-row__item\">\t<div class=\"wx-date\">$Date</div>\t</div>\t</div>\t<div class=\"wx-row wx-msg-row "
    "wx-msg-row--$SenderTag$DeleteMsgTag\">\t<div class=\"wx-layout wx-msg wx-msg-img wx-msg-img--plain\">\t<div "
    "class=\"wx-layout__item wx-msg__user-logo\">\t<img data-src=\"$UserlogoUrl\" alt=\"\">\t</div>\t<div "
    "class=\"wx-layout__item wx-msg__content\">\t<div class=\"wx-msg__username\">$UserName</div>\t<div "
    "class=\"wx-msg__body wx-msg-img__bg\">\t<div class=\"wx-state--deleted\"></div>\t<div "
    "class=\"wx-state--error\"></div>\t<div class=\"arrow\"></div>\t<a href=\"$ImgPath\" target=\"_blank\">\t<img "
    "data-src=\"$ImgPath\" alt=\"\">\t</a>\t<div class=\"right\"></div>\t<div class=\"left\"></div>\t</div>\t"
    "</div>\t</div>\t</div>\n";

// Limits on the asset archive, which is the program's own but found through
// a folder the environment can move: a few files of some kilobytes each.
constexpr int kMaxAssetEntries = 1000;
constexpr std::int64_t kMaxAssetBytes = 64LL << 20;

bool WriteFileFrom(archive* reader, const fs::path& target, std::int64_t& budget) {
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  std::array<char, 16384> buffer{};
  while (true) {
    const la_ssize_t got = archive_read_data(reader, buffer.data(), buffer.size());
    if (got < 0) return false;
    if (got == 0) break;
    budget -= got;
    if (budget < 0) return false;
    out.write(buffer.data(), static_cast<std::streamsize>(got));
  }
  out.close();
  return !out.fail();
}

// The entry's name as a path below the assets folder, or empty when it
// would lead elsewhere.
fs::path SafeEntryPath(const char* name) {
  if (name == nullptr || *name == '\0') return {};
  const std::string_view text(name);
  if (text.find('\\') != std::string_view::npos || text.find(':') != std::string_view::npos) return {};
  const fs::path path(text);
  if (path.is_absolute() || path.has_root_name() || path.has_root_directory()) return {};
  fs::path clean;
  for (const fs::path& part : path) {
    if (part == "..") return {};
    if (part.empty() || part == ".") continue;
    clean /= part;
  }
  return clean;
}

// Makes the folders of relative below root one by one, refusing any that
// is a link or a file, so that nothing is written outside root.
bool MakeFoldersBelow(const fs::path& root, const fs::path& relative) {
  fs::path at = root;
  for (const fs::path& part : relative) {
    at /= part;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(at, ec);
    if (fs::is_symlink(status)) return false;
    if (fs::is_directory(status)) continue;
    if (fs::exists(status) || !fs::create_directory(at, ec)) return false;
  }
  return true;
}

// Whether path is root or below it, both already resolved.
bool IsInside(const fs::path& path, const fs::path& root) {
  auto p = path.begin();
  for (auto r = root.begin(); r != root.end(); ++r, ++p) {
    if (r->empty() && std::next(r) == root.end()) return true;  // root ends in a separator
    if (p == path.end() || *p != *r) return false;
  }
  return true;
}

struct ArchiveDeleter {
  void operator()(archive* reader) const { archive_read_free(reader); }
};

}  // namespace

std::string FillTemplate(std::string_view text, std::initializer_list<TemplateValue> values) {
  std::string out;
  out.reserve(text.size());
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t dollar = text.find('$', at);
    if (dollar == std::string_view::npos) break;
    out.append(text.substr(at, dollar - at));
    const TemplateValue* match = nullptr;
    for (const TemplateValue& value : values) {
      if (!value.placeholder.empty() && text.substr(dollar).starts_with(value.placeholder) &&
          (match == nullptr || value.placeholder.size() > match->placeholder.size())) {
        match = &value;
      }
    }
    if (match == nullptr) {
      out += '$';
      at = dollar + 1;
    } else {
      out.append(match->value);
      at = dollar + match->placeholder.size();
    }
  }
  if (at < text.size()) out.append(text.substr(at));
  return out;
}

bool BeginsWithHttp(std::string_view text) {
  return text.size() >= 4 && platform::EqualsIgnoringAsciiCase(std::string(text.substr(0, 4)), "http");
}

namespace {

// Percent-encodes every byte of text that plain does not let through: the
// one encoder of the page links, each link kind with its own rule.
template <class Plain>
std::string PercentEncoded(std::string_view text, Plain plain) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (plain(byte)) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    }
  }
  return out;
}

}  // namespace

std::string UrlPathPart(std::string_view name) {
  static constexpr std::string_view kEncoded = "\"#%&':<>?\\^`{|}";
  return PercentEncoded(name, [](unsigned char byte) {
    return byte > 0x20 && byte != 0x7F && kEncoded.find(static_cast<char>(byte)) == std::string_view::npos;
  });
}

std::string FileHref(std::string_view relativePath) {
  return PercentEncoded(relativePath, [](unsigned char byte) {
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
           byte == '-' || byte == '.' || byte == '_' || byte == '~' || byte == '/';
  });
}

std::string FramePage(std::string_view appName) {
  return std::string(kSitePageStart) + FillTemplate(kFramePage, {{"$AppName", appName}});
}

std::string NavigationPage(std::string_view appWord) {
  return std::string(kSitePageStart) + FillTemplate(kNavigationPage, {{"$AppType", appWord}});
}

std::string NavigationRow(const ChatConversation& conversation, const std::string& name, const std::string& title) {
  const std::size_t count = conversation.MessageCount();
  const bool marked = conversation.deleted || conversation.deletedCount > 0;
  std::string itemCount = "[" + std::to_string(count);
  if (marked) itemCount += "/" + std::to_string(conversation.deletedCount);
  itemCount += "]";
  const std::string logo = !conversation.avatarUrl.empty() ? EscapeHtml(conversation.avatarUrl)
                           : conversation.chatRoom        ? "images/group_20.png"
                                                          : "images/contact_20.png";
  return FillTemplate(kNavigationRow, {{"$GroupTag", conversation.chatRoom ? " nav-group" : ""},
                                       {"$DeleteTag", marked ? " nav--deleted" : ""},
                                       {"$UserNameUrl", UrlPathPart(name)},
                                       {"$TitleUrl", UrlPathPart(title)},
                                       {"$UserlogoUrl", logo},
                                       {"$UserName", EscapeHtml(name)},
                                       {"$ItemCount", itemCount}});
}

std::string MessageFragment(const ChatMessageView& message, const std::string& imagePath) {
  const std::string date = db::FormatItemTime(message.time);
  const std::string logo = EscapeHtml(message.senderAvatarUrl);
  const std::string userName = EscapeHtml(message.senderDisplayName);
  return FillTemplate(message.picture ? kPictureMessage : kTextMessage,
                      {{"$Date", date},
                       {"$SenderTag", message.fromOwner ? "me" : "other"},
                       {"$DeleteMsgTag", message.deleted ? " wx-msg-row--delete" : ""},
                       {"$UserlogoUrl", logo},
                       {"$UserName", userName},
                       {"$ImgPath", imagePath},
                       {"$Content", message.contentHtml}});
}

std::string ChatPage(const std::string& title, const std::string& messageList) {
  return std::string(kSitePageStart) +
         FillTemplate(kChatPage, {{"$Title", EscapeHtml(title)}, {"$MessageList", messageList}});
}

std::string_view ConversationCsvHeader(int category) {
  // QQ's table names its first column as the category's own header does.
  return category == 0 ? "对话分组名,QQ帐号,消息时间,消息类别,聊天内容\r\n" : "对话分组名,微信帐号,日期,消息类型,消息内容\r\n";
}

std::string ChatCsvLine(int category, const ChatConversation& conversation, const ChatMessageView& message) {
  const std::string direction = message.fromConversation ? "已接收" : "已发送";
  const std::string time = db::FormatItemTime(message.time);
  const std::string text = db::CsvQuoteField(message.text);
  const std::string owner = db::CsvField(conversation.displayName);
  // The sender's names are one column, so they are quoted together: a comma
  // in either would otherwise shift every later column.
  const bool bothNames = category == 2 || message.senderDisplayName != message.senderUserName;
  const std::string sender =
      db::CsvField(bothNames ? message.senderDisplayName + "/" + message.senderUserName : message.senderDisplayName);
  std::string line = owner + "," + sender + "," + time + "," + direction + "," + text;
  if (category == 2) std::erase_if(line, [](char c) { return c == '\r' || c == '\n'; });
  return line + "\r\n";
}

bool UnpackSiteAssets(const fs::path& archivePath, const fs::path& folder) {
  std::unique_ptr<archive, ArchiveDeleter> reader(archive_read_new());
  if (!reader) return false;
  archive_read_support_format_7zip(reader.get());
  archive_read_support_filter_all(reader.get());
  if (archive_read_open_filename(reader.get(), archivePath.c_str(), 16384) != ARCHIVE_OK) return false;
  if (!MakeFoldersBelow(folder.parent_path(), folder.filename())) return false;
  std::int64_t budget = kMaxAssetBytes;
  bool complete = true;
  archive_entry* entry = nullptr;
  for (int count = 0;; ++count) {
    const int status = archive_read_next_header(reader.get(), &entry);
    if (status == ARCHIVE_EOF) break;
    if (status < ARCHIVE_WARN || count >= kMaxAssetEntries) return false;
    const char* name = archive_entry_pathname_utf8(entry);
    const fs::path relative = SafeEntryPath(name != nullptr ? name : archive_entry_pathname(entry));
    const auto type = archive_entry_filetype(entry);
    if (relative.empty() || (type != AE_IFREG && type != AE_IFDIR)) {
      complete = false;
      continue;
    }
    if (type == AE_IFDIR) {
      complete = MakeFoldersBelow(folder, relative) && complete;
      continue;
    }
    const fs::path target = folder / relative;
    std::error_code ec;
    if (!MakeFoldersBelow(folder, relative.parent_path()) || fs::is_symlink(fs::symlink_status(target, ec)) ||
        fs::is_directory(fs::symlink_status(target, ec))) {
      complete = false;
      continue;
    }
    if (!WriteFileFrom(reader.get(), target, budget)) return false;
  }
  return complete;
}

std::string CopyChatPicture(const std::string& mediaPath, const fs::path& mediaRoot, const fs::path& folder) {
  if (mediaPath.empty() || mediaRoot.empty() || mediaPath.find('\0') != std::string::npos) return {};
  const FileNameParts parts = SafeFileNameParts(LastPathComponent(mediaPath));
  if (parts.stem.empty()) return {};
  std::error_code ec;
  const fs::path root = fs::canonical(mediaRoot, ec);
  if (ec) return {};
  const fs::path stored(mediaPath);
  const fs::path source = fs::weakly_canonical(stored.is_absolute() ? stored : root / stored, ec);
  if (ec || !IsInside(source, root) || !backup::ReadyStoredFile(source.string())) return {};
  const std::string fileName = parts.stem + parts.extension;
  const fs::path target = folder / fileName;
  if (!fs::exists(fs::symlink_status(target, ec))) fs::copy_file(source, target, fs::copy_options::skip_existing, ec);
  return platform::IsRegularFile(target) ? fileName : std::string();
}

void CExportWriter::SetAccount(ChatAccountView account) { account_ = std::move(account); }

std::string CExportWriter::ConversationName(const ChatConversation& conversation) const {
  std::string base = SafeFileStem(conversation.displayName);
  if (base.empty()) base = SafeFileStem(conversation.userName);
  if (base.empty()) base = "对话" + std::to_string(conversations_.size() + 1);
  // Two conversations of one name would write the same folder: the later
  // one gets a number, as copied files do. Names differing only in case
  // count as one, since the export may go to a file system that ignores case.
  std::string name = base;
  for (int number = 2; usedNames_.contains(platform::AsciiLower(name)); ++number) {
    name = base + " " + std::to_string(number);
  }
  return name;
}

void CExportWriter::AddConversation(std::unique_ptr<ChatConversation> conversation) {
  if (!conversation) return;
  ConversationEntry entry;
  entry.name = ConversationName(*conversation);
  usedNames_.insert(platform::AsciiLower(entry.name));
  entry.title = entry.name + "的" + std::string(category_.displayName);
  navRows_ += NavigationRow(*conversation, entry.name, entry.title);
  const std::size_t count = conversation->MessageCount();
  const float step = count > 0 ? lineStep_ / static_cast<float>(count) : 0;
  for (std::size_t i = 0; i < count; ++i) {
    // Stopped: Finish writes nothing of what was added.
    if (Cancelled()) return;
    std::string line = ChatCsvLine(category_.number, *conversation, conversation->Message(i));
    ReplaceAll(line, "\x1f\"", "\"");
    csvText_ += line;
    AddProgress(step);
  }
  if (conversations_.empty()) {
    framesetPage_ = FillTemplate(framesetPage_, {{"$UserName", UrlPathPart(entry.name)}});
  }
  entry.conversation = std::move(conversation);
  conversations_.push_back(std::move(entry));
}

bool CExportWriter::WriteChatSite() {
  if (Cancelled()) return false;
  std::string accountName = SafeFileStem(account_.displayName);
  if (accountName.empty()) accountName = "本地未知用户";
  const fs::path site = folder_ / "网页格式" / accountName;
  const fs::path tables = folder_ / "表格格式" / accountName;
  if (!MakeExportFolder(site) || !MakeExportFolder(tables)) NoteFailure(site);
  const fs::path framePage = site / ("全部" + std::string(category_.displayName) + ".html");
  if (!WriteExportFile(framePage, {framesetPage_})) NoteFailure(framePage);

  // Without its assets the site has no navigation and no pages: the frame
  // page alone is left, and the export is told to be incomplete. Every
  // message is still in the category's CSV table.
  const fs::path assets = site / "assets";
  if (!UnpackSiteAssets(platform::SkinFolder() / "html" / "assets.7z", assets)) {
    NoteFailure(assets);
    return true;
  }
  SetProgress(70);
  const std::string_view page(navigationPage_);
  constexpr std::string_view kContent = "$ListContent";
  const std::size_t at = page.find(kContent);
  const bool written = at == std::string_view::npos
                           ? WriteExportFile(assets / "navigation.html", {page})
                           : WriteExportFile(assets / "navigation.html",
                                             {page.substr(0, at), navRows_, page.substr(at + kContent.size())});
  if (!written) NoteFailure(assets / "navigation.html");

  const float step = 15.0F / (static_cast<float>(conversations_.size()) + 0.00001F);
  for (auto entry = conversations_.rbegin(); entry != conversations_.rend(); ++entry) {
    if (!WriteConversation(*entry, site, tables, step)) {
      // The pages written so far are whole, but without its frame page the
      // site does not pass for the whole export.
      std::error_code ignored;
      fs::remove(framePage, ignored);
      return false;
    }
  }
  return true;
}

bool CExportWriter::WriteConversation(const ConversationEntry& entry, const fs::path& site, const fs::path& tables,
                                      float step) {
  const ChatConversation& conversation = *entry.conversation;
  const std::string appWord(category_.appWord);
  const std::string attachments = appWord + "附件";
  const fs::path pageFolder = site / entry.name;
  if (!MakeExportFolder(pageFolder / attachments)) NoteFailure(pageFolder / attachments);

  std::string messages;
  std::string csv(ConversationCsvHeader(category_.number));
  for (std::size_t i = 0; i < conversation.MessageCount(); ++i) {
    if (Cancelled()) return false;
    const ChatMessageView message = conversation.Message(i);
    std::string imagePath;
    if (message.picture && BeginsWithHttp(message.mediaPath)) {
      imagePath = EscapeHtml(message.mediaPath);
    } else if (message.picture) {
      std::string copied = CopyChatPicture(message.mediaPath, account_.mediaRoot, pageFolder / attachments);
      if (copied.empty()) copied = CopyChatPicture(message.mediaPath, account_.programMediaRoot, pageFolder / attachments);
      imagePath = UrlPathPart(attachments) + "/" + UrlPathPart(copied);
    }
    messages += MessageFragment(message, imagePath);
    std::string line = ChatCsvLine(category_.number, conversation, message);
    ReplaceAll(line, "\x1f\"", "\"");
    csv += line;
  }
  if (!WriteExportFile(pageFolder / (entry.title + ".html"), {ChatPage(entry.title, messages)})) {
    NoteFailure(pageFolder / (entry.title + ".html"));
  }
  AddProgress(step);
  const fs::path csvFolder = tables / entry.name;
  const std::string csvName = entry.name + "的" + std::string(category_.fileName) + ".csv";
  if (!MakeExportFolder(csvFolder) || !WriteExportFile(csvFolder / csvName, {platform::Utf8ToGb18030(csv)})) {
    NoteFailure(csvFolder / csvName);
  }
  AddProgress(step);
  return true;
}

base::Status ExportConversations(CExportWriter& writer, std::string_view header, ChatAccountView account, int selectedCount,
                        std::vector<std::unique_ptr<ChatConversation>> conversations) {
  writer.BeginList(selectedCount);
  writer.SetHeader(std::string(header));
  writer.SetAccount(std::move(account));
  for (auto& conversation : conversations) {
    if (writer.Cancelled()) break;
    if (conversation && conversation->MessageCount() > 0) writer.AddConversation(std::move(conversation));
  }
  return writer.Finish();
}

}  // namespace exporting
