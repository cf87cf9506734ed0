#pragma once
// Sample Safari databases with live rows and rows deleted with their bytes
// left in the file:
//   History.db    history_items in the 9-column shape that deleted-row
//                 layout 21 reads (id, url, domain_expansion, visit_count,
//                 daily_visit_counts, weekly_visit_counts,
//                 autocomplete_triggers, should_recompute_derived_visit_counts,
//                 visit_count_score: newer stores add status_code as a 10th),
//                 history_visits with its 13 columns (layout 10: history_item
//                 at 1, visit_time at 2 as a double, title at 3), and the
//                 store's other tables
//   Bookmarks.db  the bookmarks table as iOS 7.1.2 wrote it (29 columns)
//                 with the Root, BookmarksBar and Reading List folders
//
// The functions return SQL text for sample::SqliteFile. Thread-safe.

#include <cstdint>
#include <string>
#include <vector>

namespace sample {

// Where the phone keeps the two files (iOS 14 lists History.db in
// HomeDomain; older backups in AppDomain-com.apple.mobilesafari).
inline constexpr char kSafariHistoryDomain[] = "HomeDomain";
inline constexpr char kSafariOldHistoryDomain[] = "AppDomain-com.apple.mobilesafari";
inline constexpr char kSafariHistoryRelativePath[] = "Library/Safari/History.db";
inline constexpr char kSafariBookmarksDomain[] = "HomeDomain";
inline constexpr char kSafariBookmarksRelativePath[] = "Library/Safari/Bookmarks.db";
// iOS 17 keeps one History.db per profile the owner made, in the app domain.
inline constexpr char kSafariProfileHistoryRelativePath[] =
    "Library/Safari/Profiles/6F1C2B9E-4D3A-4E07-9A55-0B8E2C7D41F3/History.db";

inline constexpr int kHistoryItemsColumns = 9;
inline constexpr int kHistoryVisitsColumns = 13;

// One history_items row: a page.
struct SamplePage {
  std::int64_t id = 0;
  std::string url;
  bool deleted = false;  // inserted, then deleted
};

// One history_visits row.
struct SampleVisit {
  std::int64_t id = 0;
  std::int64_t page = 0;    // history_items id
  double appleSeconds = 0;  // visit_time; give it a fraction, or SQLite stores an integer
  std::string title;        // NULL when empty
  bool deleted = false;
};

// One bookmarks row; a folder has no url.
struct SampleBookmark {
  std::int64_t id = 0;
  std::int64_t parent = 0;
  std::string title;
  std::string url;
  bool deleted = false;  // the row is removed, not merely flagged
};

// A whole History.db: the schema, the pages and then the visits inserted in
// order, then the deleted visits and the deleted pages deleted.
std::string SafariHistorySql(const std::vector<SamplePage>& pages, const std::vector<SampleVisit>& visits);

// A whole Bookmarks.db: the schema, the three folders the phone creates
// (ids 0 to 2), the bookmarks inserted in order, then the deleted ones
// deleted.
std::string SafariBookmarksSql(const std::vector<SampleBookmark>& bookmarks);

// A realistic history: eight pages and eleven visits of November 2020, of
// which three visits and one page were deleted.
std::vector<SamplePage> SampleHistoryPages();
std::vector<SampleVisit> SampleHistoryVisits();
// Bookmarks in the bar and at the top level (ids from 3); one deleted; a
// folder "旅行" in the bar (id 8) holding one bookmark.
std::vector<SampleBookmark> SampleBookmarks();
// The history of a second profile ("工作"): four pages and five visits of
// December 2023, of which one visit was deleted.
std::vector<SamplePage> SampleProfileHistoryPages();
std::vector<SampleVisit> SampleProfileHistoryVisits();

}  // namespace sample
