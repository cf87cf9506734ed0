#pragma once
// CExportWriter: writes the records of one recovered category as a CSV table
// and an HTML list page below the save folder. Every reader supplies its own
// CSV header and lines; the writer collects them, turns the same lines into
// the rows of the HTML table, lays out the folders and writes the files.
//
// Folder layout, with F = <save folder>/<label>/<YYYY-MM-DD>/<display name>:
//   F/表格格式/<file name>.csv        the CSV table, in GB18030
//   F/网页格式/<file name>.html       the list page, in UTF-8
//   F/网页格式/image/DeleteFlag.png   when a deleted record was exported
//
// The chat categories (0, QQ chats; 2, WeChat chats) write a site per local
// account instead of the list page, with A = F/网页格式/<account name>:
//   A/全部<display name>.html          the frame page
//   A/assets/                         style sheets, page.js, icons (from the
//                                     skin's html/assets.7z) and navigation.html
//   A/<N>/<N>的<display name>.html     one chat page per conversation N
//   A/<N>/<app word>附件/              the pictures the page shows
//   F/表格格式/<account name>/<N>/<N>的<file name>.csv   its own table
//
// Text from the phone is escaped in the HTML page; the markup the writer
// builds itself stays raw. Names from data pass SanitiseFileName.
//
// Threads: one writer per recovery run, used on that run's worker thread.

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/categories.h"
#include "base/status.h"
#include "export/chat_site.h"

namespace exporting {

// The progress of a recovery run: a percentage that the writer sets or adds
// to, and the user's wish to stop it. The progress window implements it; so
// does the command line's bar. Every call may come from a worker thread.
class IExportProgress {
 public:
  virtual ~IExportProgress() = default;
  virtual void SetProgress(float percent) = 0;
  virtual void AddProgress(float delta) = 0;
  // Whether the user asked the run to stop (the progress window's cancel or
  // close button). Once true it stays true. The writer and the readers ask
  // before each record and each copied file, and between the chunks of a
  // long copy, so it must be cheap: an atomic load.
  virtual bool Cancelled() const { return false; }
};

// Whether progress asked the run to stop; a null progress never does.
inline bool Cancelled(const IExportProgress* progress) { return progress != nullptr && progress->Cancelled(); }

// AddLine targets.
inline constexpr int kToCsvAndHtml = 0;
inline constexpr int kToCsvOnly = 1;
inline constexpr int kToHtmlOnly = 2;

class CExportWriter {
 public:
  // progress may be null (nothing shown). category is a category number
  // (0-17); its row of the category table names the folders and files.
  CExportWriter(IExportProgress* progress, int category);

  // Creates <saveFolder>/<sanitised label>/<today>/<display name>.
  void BeginCategory(const std::filesystem::path& saveFolder, const std::string& label);
  // count: the number of records the caller will add (at least 1).
  void BeginList(int count);
  // The reader's CSV header line, ending in "\r\n".
  void SetHeader(const std::string& header);
  // A reader's CSV line (ending in "\r\n", free-text fields prepared by
  // db::CsvQuoteField) to the CSV text, the HTML rows or both. markup, when
  // given, goes raw at the end of the HTML row's last cell (a picture or a
  // link to a file copied with the record): the caller builds it from
  // escaped text (EscapeHtml, FileHref).
  void AddLine(int target, const std::string& line, bool deleted, std::string_view markup = {});
  // Chat categories: the local account whose conversations follow. Its name
  // names the site's folder; pictures are copied only from its mediaRoot.
  void SetAccount(ChatAccountView account);
  // Chat categories: one conversation with its messages, in the order of the
  // navigation list. Adds its CSV lines now; its page is written by Finish.
  // The writer owns the conversation until it is destroyed. Two
  // conversations whose names come out alike get distinct folders ("名 2").
  void AddConversation(std::unique_ptr<ChatConversation> conversation);
  // Writes the CSV file and the list page, or for the chat categories the
  // CSV file and the chat site. Returns ok, or unreadable naming the first
  // folder or file that could not be written (a full disk, a read-only
  // target) or the site's assets that could not be unpacked: the export is
  // then incomplete and the caller says so.
  // A run asked to stop (Cancelled) before Finish writes neither the table
  // nor the page, which would hold only the records added so far; one asked
  // during the chat site stops before the next conversation and removes the
  // site's frame page, so that no site looks whole. Both return cancelled.
  base::Status Finish();
  // Whether the run was asked to stop: the readers ask before each record
  // they add or file they copy, and stop adding when it says so.
  bool Cancelled() const { return exporting::Cancelled(progress_); }
  // The progress given to the constructor (may be null), for the copies a
  // reader makes itself.
  IExportProgress* Progress() const { return progress_; }
  // Whether a folder or file of this export could not be written so far.
  bool WriteFailed() const { return !failure_.Ok(); }
  // The first folder or file that could not be written, or ok.
  const base::Status& Failure() const { return failure_; }

  const std::filesystem::path& Folder() const { return folder_; }
  const std::string& CsvText() const { return csvText_; }
  int Category() const { return category_.number; }
  // The categories written as a chat site (QQ and WeChat chats).
  bool IsChatCategory() const { return category_.exportForm == base::ExportForm::kChatSite; }

 private:
  struct ConversationEntry {
    std::string name;   // its folder and file names: sanitised, never empty
    std::string title;  // "<name>的<display name>"
    std::unique_ptr<ChatConversation> conversation;
  };

  // The cancelled status of this export.
  base::Status CancelledStatus() const;
  void SetProgress(float percent);
  void NoteFailure(const std::filesystem::path& path);
  void AddProgress(float delta);
  std::string ConversationName(const ChatConversation& conversation) const;
  // Chat categories: the frame page, assets, navigation and chat pages, and
  // the per-conversation CSV files. Defined in chat_site.cpp. False when
  // the run was asked to stop before the site was whole.
  bool WriteChatSite();
  // False when the run was asked to stop before the page was written.
  bool WriteConversation(const ConversationEntry& entry, const std::filesystem::path& site,
                         const std::filesystem::path& tables, float step);

  IExportProgress* progress_;
  const base::CategoryInfo& category_;
  std::filesystem::path folder_;
  std::string label_;
  std::string csvText_;
  std::string listPage_;
  std::string listRows_;
  bool hasDeleted_ = false;
  base::Status failure_;
  float lineStep_ = 0;
  // Chat categories.
  ChatAccountView account_;
  std::string framesetPage_;
  std::string navigationPage_;
  std::string navRows_;
  std::vector<ConversationEntry> conversations_;
  std::set<std::string> usedNames_;  // the entries' names in ASCII lower case
};

// Removes / " < > ? | * : CR LF ' \ and blanks, then full stops at the end.
// The result never leads out of the folder it is joined to; it may be empty.
std::string SanitiseFileName(std::string_view text);

// The text after the last '/' or '\\' of a path from data, or the whole text.
std::string LastPathComponent(std::string_view path);

// A file name split for numbering: "IMG_0001" and ".JPG".
struct FileNameParts {
  std::string stem;
  std::string extension;  // with its dot, or empty
};

// A name from data (a label, a media or file name) as a safe stem: control
// characters out (a NUL would end the name early), SanitiseFileName, cut to
// kMaxStemUnits UTF-16 units so that the name fits every file system, and
// sanitised again since the cut may leave a full stop at the end.
inline constexpr std::size_t kMaxStemUnits = 60;
std::string SafeFileStem(std::string_view text);

// A file name from data as safe parts: an extension of up to 10 UTF-16 units
// after the last full stop is kept apart (sanitised), the rest is the stem
// (SafeFileStem). A name whose stem comes out empty gives empty parts.
FileNameParts SafeFileNameParts(std::string_view name);

// Copies source into folder as stem + extension, or as "stem N" + extension
// with the smallest N from 2 whose name is free, so that two records of one
// name are both kept. Never replaces a file, also one made meanwhile.
// Returns whether a copy was made; copiedTo, when given, gets the file made.
// A copy that progress stops (Cancelled, asked between the chunks of
// platform::CopyToNewFile) or that fails is removed and returns false.
bool CopyUnderFreeName(const std::filesystem::path& source, const std::filesystem::path& folder,
                       const FileNameParts& name, const IExportProgress* progress,
                       std::filesystem::path* copiedTo = nullptr);

// A relative file path as the href of a link in a page: every byte outside
// letters, digits and "-._~/" percent-encoded, so that a name holding '#',
// '%' or a quote still names the file.
std::string FileHref(std::string_view relativePath);

// "<a href="URL" target="_blank" title="TITLE">TITLE</a><br/>", with
// "http://" put in front of a URL that does not begin with "http". Both come
// from the phone and are escaped (EscapeHtml).
std::string LinkRow(const std::string& url, const std::string& title);

// Replaces every placeholder; the search goes on after each inserted value.
void ReplaceAll(std::string& text, std::string_view placeholder, std::string_view value);

// Writes a whole file from its parts, replacing an older one. Whether every
// byte reached the file; a file that cannot be written is removed, so that a
// table or page cut short by a full disk does not look whole, and is left
// to the caller to count as a failure.
bool WriteExportFile(const std::filesystem::path& path, std::initializer_list<std::string_view> parts);
// Whether folder is there afterwards (made now with its parents, or already).
bool MakeExportFolder(const std::filesystem::path& folder);

// &, <, >, " and ' as character references.
std::string EscapeHtml(std::string_view text);

}  // namespace exporting
