#include "export/export_writer.h"

#include <array>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <initializer_list>
#include <system_error>
#include <vector>

#include "base/categories.h"
#include "db/text.h"
#include "platform/copy_new_file.h"
#include "platform/fs.h"
#include "platform/local_time.h"
#include "platform/paths.h"
#include "platform/text_codec.h"

namespace exporting {
namespace {

namespace fs = std::filesystem;

constexpr const char* kListPage =
    "<!DOCTYPE HTML>\n"
    "<html>\n"
    "<head>\n"
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />\n"
    "<title>$titleValue</title>\n"
    "</head>\n"
    "<body>\n"
    "<p align=center style=\"word-break:break-all;word-wrap:break-word\"><font style=\"font-size:40px; "
    "font-family:Arial;color:#484848;\">$titleValue</font></p>\n"
    "<table align=\"center\" style=\"font-family:Arial; word-break:break-all;word-wrap:break-word;font-size:14px;"
    "color:#484848;\">\n"
    "<tr align=\"center\">\n"
    "$ListHeader\n"
    "</tr>\n"
    "$ListContent\n"
    "</table>\n"
    "</body>\n"
    "</html>\n";

constexpr const char* kHeaderCellOpener =
    "<th bgcolor=#D9EAF7 height = \"40\" style=\"BORDER-top:rgb(255,255,255) 0px groove; "
    "BORDER-bottom:rgb(255,255,255) 1px groove; BORDER-right: rgb(255,255,255) 1px groove\"style=\"color:#484848; "
    "font-size:16px; \"><font color=\"#474747\">";
constexpr const char* kHeaderCellSeparator =
    "</font></th><th bgcolor=#D9EAF7 height = \"40\" style=\"BORDER-top:rgb(255,255,255) 0px groove; "
    "BORDER-bottom:rgb(255,255,255) 1px groove; BORDER-right: rgb(255,255,255) 1px groove\"style=\"color:#484848; "
    "font-size:16px; \"><font color=\"#474747\">";
constexpr const char* kHeaderEnd = "</font></th>";
constexpr const char* kRowOpener =
    "<tr align=\"left\"><td bgcolor=#EEF5FA  width=\"180\" style=\"BORDER-left: rgb(255,255,255) 0px groove; "
    "BORDER-bottom:rgb(255,255,255) 1px groove; BORDER-right: rgb(255,255,255) 1px groove\">$DelImage<font "
    "color=\"#$TextFontColor\">";
constexpr const char* kCellSeparator =
    "</font>&nbsp;</td><td bgcolor=#EEF5FA  width=150 style=\"BORDER-bottom:rgb(255,255,255) 1px groove; "
    "BORDER-right: rgb(255,255,255) 1px groove\"><font color=\"#$TextFontColor\">";
constexpr const char* kRowEnd = "</font>&nbsp;</td></tr>\n";
constexpr const char* kDeleteImage = "<IMG src=image/DeleteFlag.png>";
constexpr const char* kDeletedColour = "FF6100";
constexpr const char* kNormalColour = "484848";
// U+001F and a double quote: where a reader framed a free-text field.
constexpr std::string_view kFieldMarker = "\x1f\"";

std::string Trim(std::string_view text) {
  const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && isSpace(text[begin])) ++begin;
  while (end > begin && isSpace(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

std::vector<std::string_view> SplitOnCommas(std::string_view text) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    parts.push_back(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (comma == std::string_view::npos) return parts;
    start = comma + 1;
  }
}

// A CSV cell as the page shows it: field markers dropped, doubled quotes
// made single, and escaped, since the text comes from the phone.
std::string HtmlCell(std::string_view cell) {
  std::string text(cell);
  ReplaceAll(text, kFieldMarker, "");
  ReplaceAll(text, "\"\"", "\"");
  return EscapeHtml(text);
}

std::string TodayText() {
  const std::tm local = platform::LocalTime(static_cast<std::int64_t>(std::time(nullptr))).value_or(std::tm{});
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  return text;
}

}  // namespace


std::string SanitiseFileName(std::string_view text) {
  static constexpr std::string_view kRemoved = "/\"<>?|*:\r\n' \\";
  std::string name;
  for (char c : text) {
    if (kRemoved.find(c) == std::string_view::npos) name += c;
  }
  while (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

void ReplaceAll(std::string& text, std::string_view placeholder, std::string_view value) {
  if (placeholder.empty()) return;
  std::size_t at = 0;
  while ((at = text.find(placeholder, at)) != std::string::npos) {
    text.replace(at, placeholder.size(), value);
    at += value.size();
  }
}

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string LastPathComponent(std::string_view path) {
  const auto slash = path.find_last_of("/\\");
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string SafeFileStem(std::string_view text) {
  std::string clean;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) clean += c;
  }
  return SanitiseFileName(db::LeftUtf16(SanitiseFileName(clean), kMaxStemUnits));
}

FileNameParts SafeFileNameParts(std::string_view name) {
  constexpr std::size_t kMaxExtensionUnits = 10;
  FileNameParts parts{std::string(name), ""};
  const auto dot = name.rfind('.');
  if (dot != std::string_view::npos && dot > 0 && db::Utf8ToWide(name.substr(dot)).size() <= kMaxExtensionUnits) {
    parts.stem = std::string(name.substr(0, dot));
    parts.extension = SanitiseFileName(name.substr(dot + 1));
    if (!parts.extension.empty()) parts.extension.insert(0, 1, '.');
  }
  parts.stem = SafeFileStem(parts.stem);
  if (parts.stem.empty()) parts.extension.clear();
  return parts;
}

bool CopyUnderFreeName(const fs::path& source, const fs::path& folder, const FileNameParts& name,
                       const IExportProgress* progress, fs::path* copiedTo) {
  constexpr int kMaxNumber = 10000;
  const auto stop = [progress] { return Cancelled(progress); };
  for (int number = 1; number <= kMaxNumber; ++number) {
    const std::string stem = number == 1 ? name.stem : name.stem + " " + std::to_string(number);
    const fs::path target = folder / (stem + name.extension);
    std::error_code error;
    if (fs::exists(fs::symlink_status(target, error))) continue;
    // The copy refuses an existing target, so a file made between the test
    // and the copy is not replaced either.
    error = platform::CopyToNewFile(source, target, stop);
    if (!error) {
      if (copiedTo != nullptr) *copiedTo = target;
      return true;
    }
    if (error != std::errc::file_exists) return false;
  }
  return false;
}

std::string LinkRow(const std::string& url, const std::string& title) {
  const std::string target = BeginsWithHttp(url) ? url : "http://" + url;
  // One pass over the template, so a title holding "$URL" stays text.
  return FillTemplate("<a href=\"$URL\" target=\"_blank\" title=\"$Title\">$Title</a><br/>",
                      {{"$URL", EscapeHtml(target)}, {"$Title", EscapeHtml(title)}});
}

// A file that cannot be written is skipped by the callers, who count it as a
// failure; the rest of the export goes on.
bool WriteExportFile(const fs::path& path, std::initializer_list<std::string_view> parts) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (std::string_view bytes : parts) out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out.fail()) return true;
  std::error_code ignored;
  fs::remove(path, ignored);
  return false;
}

bool MakeExportFolder(const fs::path& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  return platform::IsFolder(folder);
}

CExportWriter::CExportWriter(IExportProgress* progress, int category)
    : progress_(progress), category_(base::CategoryOf(category)) {}

void CExportWriter::NoteFailure(const fs::path& path) {
  if (failure_.Ok()) failure_ = base::Status::Unreadable(path.string(), "cannot be written");
}

void CExportWriter::SetProgress(float percent) {
  if (progress_ != nullptr) progress_->SetProgress(percent);
}

void CExportWriter::AddProgress(float delta) {
  if (progress_ != nullptr) progress_->AddProgress(delta);
}

void CExportWriter::BeginCategory(const fs::path& saveFolder, const std::string& label) {
  label_ = label;
  MakeExportFolder(saveFolder);
  folder_ = saveFolder;
  // A label from the phone (a device name) becomes one folder name, never a path.
  const std::string labelFolder = SanitiseFileName(label);
  if (!labelFolder.empty()) folder_ /= labelFolder;
  folder_ /= TodayText();
  folder_ /= std::string(category_.displayName);
  if (!MakeExportFolder(folder_)) NoteFailure(folder_);
  if (IsChatCategory()) {
    framesetPage_ = FramePage(category_.displayName);
    navigationPage_ = NavigationPage(category_.appWord);
  }
  SetProgress(2);
}

void CExportWriter::BeginList(int count) {
  listPage_ = kListPage;
  ReplaceAll(listPage_, "$titleValue", EscapeHtml(label_ + " " + std::string(category_.displayName)));
  SetProgress(4);
  // The lines share 56 points of the bar; a whole-number share would stop
  // the bar for any list longer than 56 lines.
  lineStep_ = count > 0 ? 56.0f / static_cast<float>(count) : 0;
}

void CExportWriter::SetHeader(const std::string& header) {
  csvText_ = header;
  std::string cells = kHeaderCellOpener;
  bool first = true;
  const std::string trimmed = Trim(header);
  for (std::string_view cell : SplitOnCommas(trimmed)) {
    if (!first) cells += kHeaderCellSeparator;
    cells += EscapeHtml(cell);
    first = false;
  }
  cells += kHeaderEnd;
  ReplaceAll(listPage_, "$ListHeader", cells);
  SetProgress(6);
}

void CExportWriter::AddLine(int target, const std::string& line, bool deleted, std::string_view markup) {
  if (target != kToHtmlOnly) {
    std::string csvLine = line;
    ReplaceAll(csvLine, kFieldMarker, "\"");
    csvText_ += csvLine;
  }
  if (target != kToCsvOnly) {
    // The colour and image go into the markup before any cell text, so a
    // cell holding a placeholder's name stays text.
    std::string opener = kRowOpener;
    std::string separator = kCellSeparator;
    const char* colour = deleted ? kDeletedColour : kNormalColour;
    ReplaceAll(opener, "$DelImage", deleted ? kDeleteImage : "");
    ReplaceAll(opener, "$TextFontColor", colour);
    ReplaceAll(separator, "$TextFontColor", colour);
    std::string row = opener;
    bool first = true;
    const std::string trimmed = Trim(line);
    for (std::string_view cell : SplitOnCommas(trimmed)) {
      if (!first) row += separator;
      row += HtmlCell(cell);
      first = false;
    }
    row += markup;
    row += kRowEnd;
    listRows_ += row;
    if (deleted) hasDeleted_ = true;
  }
  if (!IsChatCategory()) AddProgress(lineStep_);
}

base::Status CExportWriter::CancelledStatus() const { return base::Status::Cancelled(folder_.string(), "export cancelled"); }

base::Status CExportWriter::Finish() {
  if (Cancelled()) return CancelledStatus();
  const fs::path tables = folder_ / "表格格式";
  const fs::path csvFile = tables / (std::string(category_.fileName) + ".csv");
  if (!MakeExportFolder(tables) || !WriteExportFile(csvFile, {platform::Utf8ToGb18030(csvText_)})) {
    NoteFailure(csvFile);
  }
  SetProgress(60);
  const fs::path pages = folder_ / "网页格式";
  if (!MakeExportFolder(pages)) NoteFailure(pages);
  if (IsChatCategory()) {
    if (!WriteChatSite()) return CancelledStatus();
  } else {
    if (hasDeleted_) {
      MakeExportFolder(pages / "image");
      std::error_code ec;
      fs::copy_file(platform::SkinFolder() / "html" / "DeleteFlag.png", pages / "image" / "DeleteFlag.png",
                    fs::copy_options::skip_existing, ec);
    }
    SetProgress(80);
    // The rows go into the page as they are written: a category of a
    // million records would otherwise hold its rows twice more in memory.
    const std::string_view page(listPage_);
    constexpr std::string_view kContent = "$ListContent";
    const std::size_t at = page.find(kContent);
    const fs::path file = pages / (std::string(category_.fileName) + ".html");
    const bool written = at == std::string_view::npos
                             ? WriteExportFile(file, {page})
                             : WriteExportFile(file, {page.substr(0, at), listRows_, page.substr(at + kContent.size())});
    if (!written) NoteFailure(file);
  }
  return failure_;
}

}  // namespace exporting
