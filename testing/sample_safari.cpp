#include "testing/sample_safari.h"

#include <cstdio>

#include "testing/sql_literal.h"

namespace sample {
namespace {

std::string Id(std::int64_t id) { return std::to_string(id); }

// daily_visit_counts: one little-endian 32-bit count per day, here one day.
std::string DailyCounts(int count) {
  char text[32];
  std::snprintf(text, sizeof text, "X'%02X%02X%02X%02X'", static_cast<unsigned>(count & 0xFF),
                static_cast<unsigned>((count >> 8) & 0xFF), static_cast<unsigned>((count >> 16) & 0xFF),
                static_cast<unsigned>((count >> 24) & 0xFF));
  return text;
}

// The domain_expansion Safari keeps for a page: its host without "www.".
std::string DomainExpansion(const std::string& url) {
  std::size_t start = url.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  std::string host = url.substr(start, url.find_first_of("/?#", start) - start);
  if (host.rfind("www.", 0) == 0) host.erase(0, 4);
  return host;
}

const char kHistorySchema[] =
    "CREATE TABLE history_items (id INTEGER PRIMARY KEY AUTOINCREMENT,url TEXT NOT NULL UNIQUE,"
    "domain_expansion TEXT NULL,visit_count INTEGER NOT NULL,daily_visit_counts BLOB NOT NULL,"
    "weekly_visit_counts BLOB NULL,autocomplete_triggers BLOB NULL,"
    "should_recompute_derived_visit_counts INTEGER NOT NULL,visit_count_score INTEGER NOT NULL);\n"
    "CREATE TABLE history_visits (id INTEGER PRIMARY KEY AUTOINCREMENT,history_item INTEGER NOT NULL "
    "REFERENCES history_items(id) ON DELETE CASCADE,visit_time REAL NOT NULL,title TEXT NULL,"
    "load_successful BOOLEAN NOT NULL DEFAULT 1,http_non_get BOOLEAN NOT NULL DEFAULT 0,"
    "synthesized BOOLEAN NOT NULL DEFAULT 0,redirect_source INTEGER NULL UNIQUE REFERENCES history_visits(id) "
    "ON DELETE CASCADE,redirect_destination INTEGER NULL UNIQUE REFERENCES history_visits(id) ON DELETE CASCADE,"
    "origin INTEGER NOT NULL DEFAULT 0,generation INTEGER NOT NULL DEFAULT 0,attributes INTEGER NOT NULL "
    "DEFAULT 0,score INTEGER NOT NULL DEFAULT 0);\n"
    "CREATE TABLE history_tombstones (id INTEGER PRIMARY KEY AUTOINCREMENT,start_time REAL NOT NULL,"
    "end_time REAL NOT NULL,url TEXT,generation INTEGER NOT NULL DEFAULT 0, udid TEXT, "
    "attributes INTEGER NOT NULL DEFAULT 0);\n"
    "CREATE TABLE metadata (key TEXT NOT NULL UNIQUE, value);\n"
    "CREATE INDEX history_items__domain_expansion ON history_items (domain_expansion);\n"
    "CREATE INDEX history_visits__last_visit ON history_visits (history_item, visit_time DESC, synthesized ASC);\n"
    "CREATE INDEX history_visits__origin ON history_visits (origin, generation);\n"
    "INSERT INTO metadata VALUES ('version', 20);\n";

// Verbatim from an iOS 7.1.2 Bookmarks.db.
const char kBookmarksSchema[] =
    "CREATE TABLE generations (generation INTEGER NOT NULL);\n"
    "CREATE TABLE sync_properties (key TEXT NOT NULL, value TEXT NOT NULL);\n"
    "CREATE TABLE bookmarks (id INTEGER PRIMARY KEY, special_id INTEGER DEFAULT 0, parent INTEGER, "
    "type INTEGER, title TEXT, url TEXT COLLATE NOCASE, num_children INTEGER DEFAULT 0, "
    "editable INTEGER DEFAULT 1, deletable INTEGER DEFAULT 1, hidden INTEGER DEFAULT 0, "
    "hidden_ancestor_count INTEGER DEFAULT 0, order_index INTEGER NOT NULL, external_uuid TEXT, "
    "read INTEGER DEFAULT NULL, last_modified REAL DEFAULT NULL, server_id TEXT, sync_key TEXT, "
    "sync_data BLOB, added INTEGER DEFAULT 1, deleted INTEGER DEFAULT 0, extra_attributes BLOB DEFAULT NULL, "
    "local_attributes BLOB DEFAULT NULL, fetched_icon BOOL DEFAULT 0, icon BLOB DEFAULT NULL, "
    "dav_generation INTEGER DEFAULT 0, locally_added BOOL DEFAULT 0, archive_status INTEGER DEFAULT 0, "
    "syncable BOOL DEFAULT 1, web_filter_status INTEGER DEFAULT 0);\n"
    "CREATE TABLE bookmark_title_words (id INTEGER PRIMARY KEY, bookmark_id INTEGER NOT NULL CONSTRAINT "
    "fk_bookmark_id REFERENCES bookmarks(id) ON DELETE CASCADE, word TEXT, word_index INTEGER);\n"
    "CREATE TABLE folder_ancestors (id INTEGER PRIMARY KEY, folder_id INTEGER NOT NULL CONSTRAINT "
    "fk_ancestors_folder_id REFERENCES bookmarks(id) ON DELETE CASCADE, ancestor_id INTEGER NOT NULL);\n"
    "CREATE INDEX special_id_index ON bookmarks (special_id);\n"
    "CREATE INDEX autocomplete_index ON bookmarks (url);\n"
    "CREATE INDEX folder_list_index ON bookmarks (parent, type, order_index);\n"
    "CREATE INDEX group_index ON bookmarks (parent, order_index);\n"
    "CREATE INDEX sync_index ON bookmarks (external_uuid);\n"
    "CREATE INDEX server_id_index ON bookmarks(server_id);\n"
    "CREATE INDEX dav_generation_index ON bookmarks(dav_generation);\n"
    "INSERT INTO generations VALUES (15);\n"
    "INSERT INTO sync_properties VALUES ('_dav_generation', '1');\n";

std::string Uuid(std::int64_t id) {
  const auto mixed = static_cast<std::uint64_t>(id + 7) * 0x9E3779B97F4A7C15ull;
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-4%03X-B%03X-%012llX", static_cast<unsigned>(mixed >> 32),
                static_cast<unsigned>((mixed >> 16) & 0xFFFF), static_cast<unsigned>(mixed & 0xFFF),
                static_cast<unsigned>((mixed >> 20) & 0xFFF),
                static_cast<unsigned long long>(mixed & 0xFFFFFFFFFFFFull));
  return text;
}

}  // namespace

std::string SafariHistorySql(const std::vector<SamplePage>& pages, const std::vector<SampleVisit>& visits) {
  std::string sql = kHistorySchema;
  for (const SamplePage& page : pages) {
    int visitCount = 0;
    for (const SampleVisit& visit : visits) visitCount += visit.page == page.id ? 1 : 0;
    sql += "INSERT INTO history_items VALUES (" + Id(page.id) + ", " + SqlTextOrNull(page.url) + ", " +
           SqlTextOrNull(DomainExpansion(page.url)) + ", " + std::to_string(visitCount) + ", " +
           DailyCounts(visitCount) + ", NULL, NULL, 0, " + std::to_string(visitCount * 20) + ");\n";
  }
  for (const SampleVisit& visit : visits) {
    sql += "INSERT INTO history_visits (id, history_item, visit_time, title, load_successful, origin, score) "
           "VALUES (" + Id(visit.id) + ", " + Id(visit.page) + ", " + SqlReal(visit.appleSeconds) + ", " +
           SqlTextOrNull(visit.title) + ", 1, 0, 100);\n";
  }
  for (const SampleVisit& visit : visits) {
    if (visit.deleted) sql += "DELETE FROM history_visits WHERE id = " + Id(visit.id) + ";\n";
  }
  for (const SamplePage& page : pages) {
    if (page.deleted) sql += "DELETE FROM history_items WHERE id = " + Id(page.id) + ";\n";
  }
  return sql;
}

std::string SafariBookmarksSql(const std::vector<SampleBookmark>& bookmarks) {
  std::string sql = kBookmarksSchema;
  sql +=
      "INSERT INTO bookmarks (id, special_id, parent, type, title, num_children, editable, deletable, "
      "order_index, external_uuid) VALUES (0, 0, NULL, 1, 'Root', 2, 1, 1, 0, 'Root');\n"
      "INSERT INTO bookmarks (id, special_id, parent, type, title, editable, deletable, order_index, "
      "external_uuid) VALUES (1, 1, 0, 1, 'BookmarksBar', 0, 0, 0, '" + Uuid(1) + "');\n"
      "INSERT INTO bookmarks (id, special_id, parent, type, title, editable, deletable, hidden, order_index, "
      "external_uuid) VALUES (2, 3, 0, 1, 'com.apple.ReadingList', 0, 0, 1, 1, '" + Uuid(2) + "');\n";
  int order = 0;
  for (const SampleBookmark& bookmark : bookmarks) {
    const bool folder = bookmark.url.empty();
    sql += "INSERT INTO bookmarks (id, parent, type, title, url, order_index, external_uuid, last_modified) "
           "VALUES (" + Id(bookmark.id) + ", " + Id(bookmark.parent) + ", " + (folder ? "1" : "0") + ", " +
           SqlTextOrNull(bookmark.title) + ", " + SqlTextOrNull(bookmark.url) + ", " + std::to_string(order++) +
           ", '" + Uuid(bookmark.id) + "', " + SqlReal(626000000.25 + bookmark.id * 3600.5) + ");\n";
  }
  for (const SampleBookmark& bookmark : bookmarks) {
    if (bookmark.deleted) sql += "DELETE FROM bookmarks WHERE id = " + Id(bookmark.id) + ";\n";
  }
  return sql;
}

std::vector<SamplePage> SampleHistoryPages() {
  return {
      {1, "https://www.baidu.com/", false},
      {2, "https://www.baidu.com/s?wd=%E5%A4%A9%E6%B0%94", false},
      {3, "https://m.weibo.cn/", false},
      {4, "https://www.zhihu.com/question/19550256", false},
      {5, "https://news.sina.com.cn/c/2020-11-03/doc-iiznezxr9583214.shtml", false},
      {6, "https://item.jd.com/100009177370.html", true},
      {7, "https://www.apple.com.cn/iphone-12/", false},
      {8, "https://map.baidu.com/search/%E5%8C%97%E4%BA%AC%E5%8D%97%E7%AB%99/", false},
  };
}

std::vector<SampleVisit> SampleHistoryVisits() {
  return {
      {1, 1, 626000120.412, "百度一下，你就知道", false},
      {2, 2, 626000161.877, "天气_百度搜索", false},
      {3, 3, 626003307.530, "微博", false},
      {4, 4, 626091876.205, "如何评价 iPhone 12？ - 知乎", true},
      {5, 1, 626170011.694, "百度一下，你就知道", false},
      {6, 5, 626177450.118, "北京今冬首场降雪 | 新浪新闻", false},
      {7, 6, 626260101.963, "Apple iPhone 12 (A2404) 128GB 京东", true},
      {8, 7, 626260555.348, "iPhone 12 - Apple (中国大陆)", false},
      {9, 3, 626351799.721, "微博", false},
      {10, 8, 626402101.286, "北京南站_百度地图", true},
      {11, 1, 626570123.059, "百度一下，你就知道", false},
  };
}

std::vector<SampleBookmark> SampleBookmarks() {
  return {
      {3, 1, "百度", "https://www.baidu.com/", false},
      {4, 1, "新浪新闻", "https://news.sina.com.cn/", false},
      {5, 1, "淘宝网", "https://www.taobao.com/", true},
      {6, 0, "Apple (中国大陆)", "https://www.apple.com.cn/", false},
      {7, 0, "中国铁路12306", "https://www.12306.cn/index/", false},
      {8, 1, "旅行", "", false},
      {9, 8, "携程旅行", "https://www.ctrip.com/", false},
  };
}

std::vector<SamplePage> SampleProfileHistoryPages() {
  return {
      {1, "https://mail.qq.com/", false},
      {2, "https://docs.qq.com/doc/DWkVhbGxvd29ybGQ", false},
      {3, "https://www.baidu.com/", false},
      {4, "https://www.zhipin.com/job_detail/", false},
  };
}

std::vector<SampleVisit> SampleProfileHistoryVisits() {
  // 723171600 is 2023-12-02 09:00:00 in Beijing (UTC+8).
  return {
      {1, 1, 723171600.318, "QQ邮箱", false},
      {2, 2, 723171845.902, "季度总结 - 腾讯文档", false},
      {3, 4, 723175200.477, "招聘 - BOSS直聘", true},
      {4, 3, 723178811.154, "百度一下，你就知道", false},
      {5, 1, 723258000.629, "QQ邮箱", false},
  };
}

}  // namespace sample
