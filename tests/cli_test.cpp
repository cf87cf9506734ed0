// The velmora command line, run as a user runs it: a process with arguments,
// its stdout, stderr and exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/fs.h"
#include "testing/folder_snapshot.h"
#include "testing/plist_writer.h"
#include "testing/sample_backup.h"
#include "testing/sample_qq.h"
#include "testing/sample_reminders.h"
#include "testing/sample_wechat.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

class CliTest : public ::testing::Test {
 protected:
  // The program's settings and user data go to this test's own folders,
  // never to the user's.
  CliTest() {
    ::setenv("VELMORA_CONFIG_DIR", (temp_.Path() / "config").c_str(), 1);
    ::setenv("VELMORA_USER_DATA_DIR", (temp_.Path() / "user-data").c_str(), 1);
  }
  ~CliTest() override {
    ::unsetenv("VELMORA_CONFIG_DIR");
    ::unsetenv("VELMORA_USER_DATA_DIR");
  }

  // Runs velmora with args; standard input is input as one line when given,
  // else nothing (never the terminal the tests run in).
  Outcome Velmora(const std::vector<std::string>& args, const std::optional<std::string>& input = std::nullopt) {
    std::string command = (input ? "printf '%s\\n' " + Quote(*input) + " | " : std::string()) + Quote(VELMORA_CLI);
    for (const std::string& arg : args) command += " " + Quote(arg);
    const fs::path errFile = temp_.Path() / "stderr.txt";
    command += " 2>" + Quote(errFile.string());
    if (!input) command += " </dev/null";
    Outcome run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(errFile);
    std::stringstream text;
    text << err.rdbuf();
    run.err = text.str();
    return run;
  }

  fs::path Backup(sample::BackupMode mode) {
    const fs::path folder = temp_.Path() / ("backup" + std::to_string(static_cast<int>(mode)));
    if (!fs::exists(folder)) sample::DemoBackup().Write(folder, mode);
    return folder;
  }

  platform::TempFolder temp_{"velmora-cli"};
};

TEST_F(CliTest, ExitStatusesOfUsage) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* inOut;
  };
  const Case cases[] = {
      {{"--version"}, 0, "velmora 0."},
      {{"help"}, 0, "files"},
      {{"help", "files"}, 0, "RELPATH"},
      {{"files", "--help"}, 0, "--search"},
      {{}, 2, ""},
      {{"no-such-command"}, 2, ""},
      {{"files", "onlyone"}, 2, ""},
      {{"files", "a", "b", "c", "--max", "-3"}, 2, ""},
      {{"help", "no-such-command"}, 2, ""},
  };
  for (const Case& c : cases) {
    const Outcome run = Velmora(c.args);
    const std::string name = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(run.status, c.status) << name << ": " << run.err;
    EXPECT_NE(run.out.find(c.inOut), std::string::npos) << name;
    if (c.status == 2) {
      EXPECT_FALSE(run.err.empty()) << name;
    }
  }
}

TEST_F(CliTest, FilesPrintsStoredPathsOrJsonRecords) {
  const fs::path backup = Backup(sample::BackupMode::kManifestDb);
  const Outcome text = Velmora({"files", backup.string(), "HomeDomain", "Library/SMS/sms.db"});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out, (backup / "3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28").string() + "\n");

  const Outcome json = Velmora({"files", backup.string(), "HomeDomain", "%.plist", "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  const auto list = nlohmann::json::parse(json.out);
  ASSERT_EQ(list.size(), 2u);
  for (const char* key : {"fileID", "domain", "relativePath", "storedPath", "size", "birth", "lastModified",
                          "lastStatusChange", "flags"}) {
    EXPECT_TRUE(list[0].contains(key)) << key;
  }
  EXPECT_EQ(list[0]["relativePath"], "Library/Preferences/.GlobalPreferences.plist");
  EXPECT_EQ(list[0]["flags"], 1);
  EXPECT_EQ(list[0]["birth"], 1566918489);

  const Outcome limited = Velmora({"files", backup.string(), "HomeDomain", "%.plist", "--max", "1"});
  EXPECT_EQ(std::count(limited.out.begin(), limited.out.end(), '\n'), 1);

  const Outcome none = Velmora({"files", backup.string(), "HomeDomain", "no/such/file", "--json"});
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(nlohmann::json::parse(none.out), nlohmann::json::array());
}

TEST_F(CliTest, InfoSummarisesEachForm) {
  struct Case {
    sample::BackupMode mode;
    const char* source;
    bool hasInfo;
  };
  const Case cases[] = {{sample::BackupMode::kManifestDb, "Manifest.db", true},
                        {sample::BackupMode::kManifestMbdb, "Manifest.mbdb", true},
                        {sample::BackupMode::kFolder, "folder", false}};
  for (const Case& c : cases) {
    const fs::path backup = Backup(c.mode);
    const auto before = sample::SnapshotFolder(backup);
    const Outcome run = Velmora({"info", backup.string(), "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto info = nlohmann::json::parse(run.out);
    EXPECT_EQ(info["source"], c.source);
    EXPECT_EQ(info["files"], 4);
    if (c.hasInfo) {
      EXPECT_EQ(info["deviceName"], "Lin's iPhone");
      EXPECT_EQ(info["productType"], "iPhone12,1");
      EXPECT_EQ(info["productVersion"], "14.3");
      EXPECT_EQ(info["lastBackupDate"], 1638559914);
    } else {
      EXPECT_TRUE(info["deviceName"].is_null());
    }
    // The folder a user names may be a link to the backup.
    const fs::path link = temp_.Path() / ("link" + std::to_string(static_cast<int>(c.mode)));
    fs::create_directory_symlink(backup, link);
    const Outcome text = Velmora({"info", link.string()});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find(std::string("Source:          ") + c.source), std::string::npos);
    EXPECT_EQ(sample::SnapshotFolder(backup), before) << c.source;
  }
}

TEST_F(CliTest, UnreadableInputsExitWithOneAndSayWhy) {
  const fs::path brokenMbdb = temp_.Path() / "broken";
  fs::create_directories(brokenMbdb);
  std::ofstream(brokenMbdb / "Manifest.mbdb") << "not a manifest";
  const fs::path empty = temp_.Path() / "empty.plist";
  std::ofstream(empty).flush();
  const fs::path junk = temp_.Path() / "junk.plist";
  std::ofstream(junk) << "<plist><dict><key>a</key><key>b</key></dict></plist>";
  struct Case {
    std::vector<std::string> args;
    const char* inErr;
  };
  const Case cases[] = {
      {{"info", (temp_.Path() / "missing").string()}, "未发现备份信息"},
      {{"files", brokenMbdb.string(), "HomeDomain", "x"}, "未发现备份信息"},
      {{"info", brokenMbdb.string(), "--json"}, "未发现备份信息"},
      {{"plist", empty.string()}, "Can't read zero length data"},
      {{"plist", (temp_.Path() / "missing.plist").string()}, "Can't open file."},
      {{"plist", junk.string(), "--json"}, "Plist: XML dictionary value expected for key abut found another key node"},
  };
  for (const Case& c : cases) {
    const Outcome run = Velmora(c.args);
    EXPECT_EQ(run.status, 1) << c.args[0] << " " << c.args[1];
    EXPECT_NE(run.err.find(c.inErr), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
  }
}

TEST_F(CliTest, PlistJsonMapsEveryValueType) {
  auto root = sample::PlistNode::Dictionary({});
  root.Add("text", sample::PlistNode::Text("中文"))
      .Add("int", sample::PlistNode::Integer(-5))
      .Add("real", sample::PlistNode::Real(2.5))
      .Add("yes", sample::PlistNode::Boolean(true))
      .Add("data", sample::PlistNode::Data({'a', 'b', 'c', 'd'}))
      .Add("date", sample::PlistNode::Date(1478307200))
      .Add("list", sample::PlistNode::Array({sample::PlistNode::Integer(1), sample::PlistNode::Text("x")}));
  const fs::path file = temp_.Path() / "all.plist";
  const auto bytes = sample::WriteBinaryPlist(root);
  sample::WriteBytes(file, bytes);
  const Outcome run = Velmora({"plist", file.string(), "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto expected = nlohmann::json::parse(R"({"text": "中文", "int": -5, "real": 2.5, "yes": true,
      "data": {"$data": "YWJjZA=="}, "date": {"$date": 1478307200}, "list": [1, "x"]})");
  EXPECT_EQ(nlohmann::json::parse(run.out), expected);

  const Outcome text = Velmora({"plist", file.string()});
  EXPECT_EQ(text.status, 0);
  EXPECT_NE(text.out.find("date: 2016-11-05 00:53:20 UTC"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("list:\n  [0] 1\n  [1] x\n"), std::string::npos) << text.out;
}

TEST_F(CliTest, DemoBuildsTheSampleAndFindsItsFiles) {
  const fs::path out = temp_.Path() / "demo";
  const Outcome run = Velmora({"demo", "--out", out.string()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("3d0d7e5fb2ce288813306e4d4636395e047a3d28"), std::string::npos);
  EXPECT_TRUE(fs::exists(out / "manifest-db" / "Manifest.db"));
  EXPECT_TRUE(fs::exists(out / "manifest-mbdb" / "Manifest.mbdb"));
  EXPECT_TRUE(fs::exists(out / "folder" / "Library/SMS/sms.db"));
}

TEST_F(CliTest, ScanPrintsEveryRowOfTheLayoutDeletedOnesIncluded) {
  // A notes data table: a deleted note's row stays in the file.
  const sample::SqliteFile notes(
      "CREATE TABLE ZICNOTEDATA (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZNOTE INTEGER,"
      " ZCRYPTOINITIALIZATIONVECTOR BLOB, ZCRYPTOTAG BLOB, ZDATA BLOB);"
      "INSERT INTO ZICNOTEDATA VALUES (1, 9, 1, 5, NULL, NULL, x'1f8b08');"
      "INSERT INTO ZICNOTEDATA VALUES (2, 9, 1, 6, NULL, NULL, x'1f8b09');"
      "DELETE FROM ZICNOTEDATA WHERE Z_PK = 2;");
  const fs::path file = temp_.Path() / "NoteStore.sqlite";
  const auto bytes = notes.DatabaseBytes();
  sample::WriteBytes(file, bytes);

  const Outcome text = Velmora({"scan", file.string(), "--layout", "5"});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("0\t9\t1\t6\t\t\t1f8b09\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("0\t9\t1\t5\t\t\t1f8b08\n"), std::string::npos) << text.out;

  const Outcome json = Velmora({"scan", file.string(), "--layout", "5", "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  const auto rows = nlohmann::json::parse(json.out);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].size(), 7u);
  EXPECT_EQ(rows[0][0], nlohmann::json::parse(R"({"type": 255, "text": "0", "number": -1})"));
  EXPECT_EQ(rows[0][6]["type"], 12);

  EXPECT_EQ(Velmora({"scan", file.string(), "--layout", "5", "--count"}).out, "2\n");
  // A caller's column count replaces the layout's: one more serial type is read.
  const auto wider = nlohmann::json::parse(Velmora({"scan", file.string(), "--layout", "5", "--columns", "8", "--json"}).out);
  ASSERT_FALSE(wider.empty());
  EXPECT_EQ(wider[0].size(), 8u);
  EXPECT_EQ(Velmora({"scan", file.string(), "--layout", "6"}).status, 2);
  EXPECT_EQ(Velmora({"scan", file.string()}).status, 2);
  const Outcome missing = Velmora({"scan", (temp_.Path() / "none.db").string(), "--layout", "5"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("none.db: no such file"), std::string::npos) << missing.err;
  // A file that is no database says so in words, and gives no rows.
  const fs::path junk = temp_.Path() / "junk.db";
  sample::WriteBytes(junk, std::vector<std::uint8_t>(4096, 0x5A));
  const Outcome notDatabase = Velmora({"scan", junk.string(), "--layout", "5"});
  EXPECT_EQ(notDatabase.status, 1);
  EXPECT_NE(notDatabase.err.find("not a SQLite database"), std::string::npos) << notDatabase.err;
  EXPECT_TRUE(notDatabase.out.empty());
  const auto after = platform::ReadWholeFile(file);
  ASSERT_TRUE(after.has_value());
  EXPECT_EQ(*after, bytes);
}

// A damaged database of the category is told on stderr and in the exit
// status; an app that is not on the phone is simply an empty result. A damaged
// address book only costs the names of the messages' peers: a warning, but
// the messages are whole.
TEST_F(CliTest, AnalyseTellsADamagedDatabaseFromAnAbsentApp) {
  struct Case {
    const char* name;
    const char* category;
    const char* file;  // the end of the stored file's relative path
    bool damaged;      // random bytes in its place; else the file is left out
    int status;
    bool warned;
  };
  const Case cases[] = {
      {"damaged messages", "messages", "Library/SMS/sms.db", true, 1, true},
      {"absent messages", "messages", "Library/SMS/sms.db", false, 0, false},
      {"damaged contacts", "contacts", "AddressBook.sqlitedb", true, 1, true},
      {"absent contacts", "contacts", "AddressBook.sqlitedb", false, 0, false},
      {"damaged address book under messages", "messages", "AddressBook.sqlitedb", true, 0, true},
      {"damaged calls", "calls", "CallHistory.storedata", true, 1, true},
      {"damaged calendar", "calendar", "Calendar.sqlitedb", true, 1, true},
      {"damaged newest calls", "calls", "CallHistoryTemp.storedata", true, 1, true},
      {"absent calendar", "calendar", "Calendar.sqlitedb", false, 0, false},
      {"damaged reminders store", "reminders", sample::kRemindersStorePath, true, 1, true},
      {"damaged notes", "notes", "NoteStore.sqlite", true, 1, true},
      {"damaged WhatsApp", "whatsapp", "ChatStorage.sqlite", true, 1, true},
      {"absent WhatsApp", "whatsapp", "ChatStorage.sqlite", false, 0, false},
      {"damaged voice memos", "voice-memos", "Recordings.db", true, 1, true},
      {"damaged photo library", "photos", "Photos.sqlite", true, 1, true},
  };
  std::mt19937 random(7);
  std::vector<std::uint8_t> noise(8192);
  for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());
  const sample::SampleBackupBuilder demo = sample::AppsDemoBackup();
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sample::SampleBackupBuilder builder;
    for (sample::BackupFile file : demo.Files()) {
      // The log goes with its database: a left-out database leaves none.
      const bool target = file.relativePath.ends_with(c.file) || file.relativePath.ends_with(std::string(c.file) + "-wal");
      if (target && !c.damaged) continue;
      if (target && file.relativePath.ends_with(c.file)) file.content = noise;
      builder.AddFile(file);
    }
    const fs::path folder = temp_.Path() / ("case" + std::to_string(n++));
    builder.Write(folder, sample::BackupMode::kManifestDb);
    const Outcome run = Velmora({"analyse", folder.string(), c.category});
    EXPECT_EQ(run.status, c.status) << run.err;
    const bool warned = run.err.find("warning: cannot read") != std::string::npos;
    EXPECT_EQ(warned, c.warned) << run.err;
    if (c.warned) {
      EXPECT_NE(run.err.find("not a SQLite database"), std::string::npos) << run.err;
    }
    if (!c.damaged) {
      EXPECT_NE(run.out.find("Records: 0"), std::string::npos) << run.out;
    }
  }
}

TEST_F(CliTest, AnalyseAndRecoverTheAppsOfABackup) {
  const fs::path backup = temp_.Path() / "apps";
  sample::AppsDemoBackup().Write(backup, sample::BackupMode::kManifestDb);
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case usage[] = {{{"analyse", backup.string(), "no-such-category"}, 2},
                        {{"analyse", backup.string(), "wechat", "--account", "3"}, 2},
                        {{"analyse", backup.string(), "99"}, 2},
                        {{"recover", backup.string(), "contacts"}, 2},
                        {{"analyse", (temp_.Path() / "none").string(), "contacts"}, 1}};
  for (const Case& c : usage) EXPECT_EQ(Velmora(c.args).status, c.status) << c.args[2];

  const Outcome contacts = Velmora({"analyse", backup.string(), "contacts", "--json"});
  ASSERT_EQ(contacts.status, 0) << contacts.err;
  const auto flat = nlohmann::json::parse(contacts.out);
  EXPECT_EQ(flat["category"], 4);
  ASSERT_FALSE(flat["records"].empty());
  for (const char* key : {"title", "deleted", "time", "displayName", "phones"}) {
    EXPECT_TRUE(flat["records"][0].contains(key)) << key;
  }

  const Outcome messages = Velmora({"analyse", backup.string(), "5", "--json"});
  ASSERT_EQ(messages.status, 0) << messages.err;
  const auto grouped = nlohmann::json::parse(messages.out);
  EXPECT_EQ(grouped["category"], 5);
  ASSERT_FALSE(grouped["groups"].empty());
  EXPECT_FALSE(grouped["groups"][0]["records"].empty());
  EXPECT_TRUE(grouped["groups"][0]["records"][0]["time"].is_number());

  // WhatsApp conversations list their messages; notes, events and
  // recordings are flat records with their own fields.
  const Outcome whatsApp = Velmora({"analyse", backup.string(), "whatsapp", "--json"});
  ASSERT_EQ(whatsApp.status, 0) << whatsApp.err;
  const auto chats = nlohmann::json::parse(whatsApp.out);
  ASSERT_FALSE(chats["groups"].empty());
  EXPECT_TRUE(chats["groups"][0].contains("jid"));
  ASSERT_FALSE(chats["groups"][0]["records"].empty());
  EXPECT_TRUE(chats["groups"][0]["records"][0].contains("isFromMe"));
  // WeChat: the account's conversations with their messages' senders,
  // directions, types and media.
  const Outcome weChat = Velmora({"analyse", backup.string(), "wechat", "--account", "0", "--json"});
  ASSERT_EQ(weChat.status, 0) << weChat.err;
  const auto wxGroups = nlohmann::json::parse(weChat.out)["groups"];
  ASSERT_FALSE(wxGroups.empty());
  EXPECT_TRUE(wxGroups[0].contains("userName"));
  bool sent = false;
  bool picture = false;
  for (const auto& group : wxGroups) {
    for (const auto& message : group["records"]) {
      for (const char* key : {"sender", "senderName", "direction", "msgType", "mediaPath", "text"}) {
        EXPECT_TRUE(message.contains(key)) << key;
      }
      sent = sent || message["fromMe"] == true;
      picture = picture || (message["msgType"] == 3 && !message["mediaPath"].get<std::string>().empty());
    }
  }
  EXPECT_TRUE(sent);
  EXPECT_TRUE(picture);
  // QQ: the phone has a QQ, a TIM and a current QQ account (its chats
  // encrypted); the first one's chats.
  const Outcome qqAccounts = Velmora({"analyse", backup.string(), "qq", "--json"});
  ASSERT_EQ(qqAccounts.status, 0) << qqAccounts.err;
  const auto qqList = nlohmann::json::parse(qqAccounts.out)["accounts"];
  ASSERT_EQ(qqList.size(), 3u);
  EXPECT_TRUE(qqList[1]["userName"].get<std::string>().ends_with("(TIM)"));
  EXPECT_EQ(qqList[2]["chatsEncrypted"], true);
  EXPECT_TRUE(qqList[0].contains("qqNumber"));
  const Outcome qq = Velmora({"analyse", backup.string(), "qq", "--account", "0", "--json"});
  ASSERT_EQ(qq.status, 0) << qq.err;
  const auto qqGroups = nlohmann::json::parse(qq.out)["groups"];
  ASSERT_FALSE(qqGroups.empty());
  ASSERT_FALSE(qqGroups[0]["records"].empty());
  for (const char* key : {"senderUin", "sender", "fromMe", "msgType", "content"}) {
    EXPECT_TRUE(qqGroups[0]["records"][0].contains(key)) << key;
  }
  const std::pair<const char*, const char*> flatKeys[] = {
      {"notes", "body"}, {"calendar", "locationTitle"}, {"reminders", "priority"}, {"voice-memos", "audioPath"}};
  for (const auto& [category, key] : flatKeys) {
    const Outcome outcome = Velmora({"analyse", backup.string(), category, "--json"});
    ASSERT_EQ(outcome.status, 0) << category << outcome.err;
    const auto records = nlohmann::json::parse(outcome.out)["records"];
    ASSERT_FALSE(records.empty()) << category;
    EXPECT_TRUE(records[0].contains(key)) << category;
  }

  // Media: top groups, their days and the files with kind, size and flag;
  // recover copies the files of one top group.
  const Outcome photos = Velmora({"analyse", backup.string(), "photos", "--json"});
  ASSERT_EQ(photos.status, 0) << photos.err;
  const auto albums = nlohmann::json::parse(photos.out);
  ASSERT_EQ(albums["groups"].size(), 3u);
  ASSERT_FALSE(albums["groups"][0]["days"].empty());
  const auto& file = albums["groups"][0]["days"][0]["records"][0];
  for (const char* key : {"title", "deleted", "kind", "size", "mediaName", "storedPath"}) {
    EXPECT_TRUE(file.contains(key)) << key;
  }
  EXPECT_EQ(Velmora({"recover", backup.string(), "photos", "--out", (temp_.Path() / "p").string(), "--group", "7"})
                .status,
            2);
  const Outcome copied =
      Velmora({"recover", backup.string(), "photos", "--out", (temp_.Path() / "p").string(), "--group", "2"});
  ASSERT_EQ(copied.status, 0) << copied.err;
  const fs::path photoFolder = copied.out.substr(0, copied.out.size() - 1);
  EXPECT_EQ(photoFolder.filename(), "照片");
  std::size_t copiedFiles = 0;
  for (const auto& entry : fs::recursive_directory_iterator(photoFolder)) copiedFiles += entry.is_regular_file();
  EXPECT_GT(copiedFiles, 0u);

  // An export folder that cannot be made is an error, not a done export.
  sample::WriteBytes(temp_.Path() / "a-file", {'x'});
  const Outcome blocked = Velmora({"recover", backup.string(), "calls", "--out", (temp_.Path() / "a-file").string()});
  EXPECT_EQ(blocked.status, 1);
  EXPECT_NE(blocked.err.find("cannot write"), std::string::npos) << blocked.err;

  const Outcome recovered =
      Velmora({"recover", backup.string(), "messages", "--out", (temp_.Path() / "out").string(), "--deleted-only"});
  ASSERT_EQ(recovered.status, 0) << recovered.err;
  const fs::path folder = recovered.out.substr(0, recovered.out.size() - 1);
  EXPECT_EQ(folder.filename(), "短信");
  EXPECT_TRUE(fs::exists(folder / "表格格式" / "短信.csv"));
  EXPECT_TRUE(fs::exists(folder / "网页格式" / "短信.html"));
  EXPECT_NE(folder.string().find("LinsiPhone"), std::string::npos);
}

// A phone with two WeChat accounts: analyse lists them until one is chosen,
// recover needs the choice.
TEST_F(CliTest, ChatCategoriesAskForOneOfSeveralAccounts) {
  const fs::path backup = temp_.Path() / "two-accounts";
  sample::SampleBackupBuilder builder;
  sample::WxSettings second;
  second.userName = "wxid_velmora02";
  second.displayName = "陈晨";
  second.weChatId = "chen_chen";
  sample::AddWeChatAccount(builder, sample::WxSampleSettings(),
                           sample::WxSampleContactsSql(sample::WxFriendShape::kNameFirst));
  sample::AddWeChatAccount(builder, second, sample::WxSampleContactsSql(sample::WxFriendShape::kNameFirst));
  builder.Write(backup, sample::BackupMode::kManifestDb);

  const Outcome listed = Velmora({"analyse", backup.string(), "wechat-contacts", "--json"});
  ASSERT_EQ(listed.status, 0) << listed.err;
  const auto accounts = nlohmann::json::parse(listed.out)["accounts"];
  ASSERT_EQ(accounts.size(), 2u);
  EXPECT_EQ(accounts[1]["index"], 1);
  EXPECT_EQ(accounts[1]["userName"], "wxid_velmora02");
  EXPECT_EQ(accounts[1]["displayName"], "陈晨");
  EXPECT_EQ(accounts[1]["weChatId"], "chen_chen");
  const Outcome text = Velmora({"analyse", backup.string(), "wechat"});
  EXPECT_EQ(text.status, 0);
  EXPECT_NE(text.out.find("1  wxid_velmora02  陈晨  chen_chen"), std::string::npos) << text.out;

  const Outcome chosen = Velmora({"analyse", backup.string(), "wechat-contacts", "--account", "1", "--json"});
  ASSERT_EQ(chosen.status, 0) << chosen.err;
  const auto records = nlohmann::json::parse(chosen.out)["records"];
  ASSERT_FALSE(records.empty());
  EXPECT_TRUE(records[0].contains("userName"));
  EXPECT_TRUE(records[0].contains("members"));
  EXPECT_EQ(Velmora({"analyse", backup.string(), "wechat-contacts", "--account", "2"}).status, 2);

  const std::string out = (temp_.Path() / "wx-out").string();
  EXPECT_EQ(Velmora({"recover", backup.string(), "wechat-contacts", "--out", out}).status, 2);
  const Outcome recovered = Velmora({"recover", backup.string(), "wechat-contacts", "--out", out, "--account", "1"});
  ASSERT_EQ(recovered.status, 0) << recovered.err;
  EXPECT_TRUE(fs::exists(fs::path(recovered.out.substr(0, recovered.out.size() - 1)) / "表格格式" / "微信通讯录.csv"));
}

// QQ's current builds keep their chats encrypted: such an account is listed
// with the reason its chats cannot be read, exit 0, and nothing empty
// passes for a result; what an older database holds is still read.
TEST_F(CliTest, QqAccountsWithEncryptedChatsSaySo) {
  const std::string kAccount = "284655012";
  const std::string kPeer = "315720468";
  const std::string kNotice = "此QQ版本的聊天记录已加密，无法从备份中读取";
  struct Case {
    const char* name;
    bool nt;     // an encrypted nt_msg.db, tied to the account where the archive names one
    bool older;  // the archive and the older QQ.db with one message
  };
  const Case cases[] = {{"NT only", true, false}, {"NT and older", true, true}, {"older only", false, true}};
  const sample::BackupMode modes[] = {sample::BackupMode::kManifestDb, sample::BackupMode::kManifestMbdb,
                                      sample::BackupMode::kFolder};
  int n = 0;
  for (const sample::BackupMode mode : modes) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", form " + std::to_string(static_cast<int>(mode)));
      sample::SampleBackupBuilder builder;
      if (c.older) {
        builder.AddFile(sample::kQqAppDomain, "Documents/QQAccountsManager",
                        sample::QqAccountsArchive({{kAccount, "小雨"}}));
        std::string sql = sample::QqMessageDbSql() + sample::QqC2cTableSql(kPeer);
        sql += sample::InsertQqC2cSql(kPeer, {1, kPeer, 1600000000, 0, 1, "旧版本的消息", kPeer});
        sample::AddQqAccountFiles(builder, sample::kQqAppDomain, kAccount, sql);
      }
      if (c.nt) {
        sample::AddQqNtAccountFiles(builder, sample::kQqNtSampleHash, sample::QqNtMessageDb(),
                                    c.older ? sample::QqNtFolderOfAccount(kAccount) : sample::kQqNtDbFolder);
      }
      const fs::path backup = temp_.Path() / ("qq-nt" + std::to_string(n++));
      builder.Write(backup, mode);

      const Outcome text = Velmora({"analyse", backup.string(), "qq"});
      EXPECT_EQ(text.status, 0) << text.err;
      EXPECT_EQ(text.out.find(kNotice) != std::string::npos, c.nt) << text.out;
      EXPECT_EQ(text.out.find("Records: 1") != std::string::npos, c.older) << text.out;
      EXPECT_EQ(text.out.find("Records: 0"), std::string::npos) << text.out;  // no empty list in its place
      EXPECT_EQ(text.err.find("未找到QQ本地帐号"), std::string::npos) << text.err;

      const Outcome json = Velmora({"analyse", backup.string(), "qq", "--account", "0", "--json"});
      ASSERT_EQ(json.status, 0) << json.err;
      const auto chosen = nlohmann::json::parse(json.out);
      EXPECT_EQ(chosen["chatsEncrypted"], c.nt);
      EXPECT_EQ(chosen["notice"], c.nt ? kNotice : "");
      EXPECT_EQ(chosen["groups"].size(), c.older ? 1u : 0u);

      const fs::path out = temp_.Path() / ("qq-nt-out" + std::to_string(n));
      const Outcome recovered = Velmora({"recover", backup.string(), "qq", "--account", "0", "--out", out.string()});
      EXPECT_EQ(recovered.status, 0) << recovered.err;
      EXPECT_EQ(recovered.err.find(kNotice) != std::string::npos, c.nt) << recovered.err;
      EXPECT_EQ(recovered.err.find("nothing to recover"), std::string::npos) << recovered.err;
      if (c.older) {
        ASSERT_FALSE(recovered.out.empty());
        EXPECT_TRUE(fs::exists(recovered.out.substr(0, recovered.out.size() - 1)));
      } else {
        EXPECT_EQ(recovered.out, "");
        EXPECT_FALSE(fs::exists(out));  // no empty pages pretending to be a result
      }
    }
  }
}

TEST_F(CliTest, QqAccountListTellsWhichAccountIsEncrypted) {
  const fs::path backup = temp_.Path() / "qq-two";
  sample::SampleBackupBuilder builder;
  builder.AddFile(sample::kQqAppDomain, "Documents/QQAccountsManager", sample::QqAccountsArchive({{"284655012", "小雨"}}));
  sample::AddQqAccountFiles(builder, sample::kQqAppDomain, "284655012", sample::QqMessageDbSql());
  sample::AddQqNtAccountFiles(builder, sample::kQqNtSampleHash);  // not below the account's folder: not tied
  builder.Write(backup, sample::BackupMode::kManifestDb);

  const Outcome text = Velmora({"analyse", backup.string(), "qq"});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("0  284655012  小雨  284655012\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find(std::string("1  nt_qq_") + sample::kQqNtSampleHash + "  " + sample::kQqNtSampleHash +
                          "    此QQ版本的聊天记录已加密，无法从备份中读取\n"),
            std::string::npos)
      << text.out;
  const Outcome json = Velmora({"analyse", backup.string(), "qq", "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  const auto accounts = nlohmann::json::parse(json.out)["accounts"];
  ASSERT_EQ(accounts.size(), 2u);
  EXPECT_EQ(accounts[0]["chatsEncrypted"], false);
  EXPECT_EQ(accounts[0]["notice"], "");
  EXPECT_EQ(accounts[1]["chatsEncrypted"], true);
  EXPECT_EQ(accounts[1]["qqNumber"], "");
  EXPECT_EQ(accounts[1]["notice"], "此QQ版本的聊天记录已加密，无法从备份中读取");
}

// The default catalogue roots of these runs are empty folders of the test,
// so the user's own backups are never read.
// An encrypted backup opens with its password from standard input or the
// environment, and says what is wrong without it; its decrypted copies never
// outlive the run.
TEST_F(CliTest, EncryptedBackupsOpenWithTheirPasswordOnly) {
  const fs::path tempRoot = temp_.Path() / "tmp";
  fs::create_directories(tempRoot);
  ::setenv("VELMORA_TEMP_DIR", tempRoot.c_str(), 1);
  sample::BackupEncryption encryption;
  encryption.password = "sésame 42";
  const fs::path backup = temp_.Path() / "encrypted";
  sample::AppsDemoBackup().Write(backup, sample::BackupMode::kManifestDb, &encryption);
  const fs::path plain = temp_.Path() / "plain";
  sample::AppsDemoBackup().Write(plain, sample::BackupMode::kManifestDb);
  const auto before = sample::SnapshotFolder(backup);
  const std::vector<std::string> analyse = {"analyse", backup.string(), "messages", "--json"};
  auto withStdin = [&](std::vector<std::string> args) {
    args.push_back("--password-stdin");
    return args;
  };

  const Outcome locked = Velmora(analyse);
  EXPECT_EQ(locked.status, 1);
  EXPECT_NE(locked.err.find("this backup is encrypted: give its password (--password-stdin, or the "
                            "VELMORA_BACKUP_PASSWORD environment variable)"),
            std::string::npos)
      << locked.err;
  EXPECT_TRUE(locked.out.empty());
  const Outcome wrong = Velmora(withStdin(analyse), "sésame 43");
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find("wrong password"), std::string::npos) << wrong.err;
  EXPECT_EQ(wrong.err.find("sésame"), std::string::npos) << "the password is never shown";

  // The same records, its files named where the backup keeps them.
  auto twinOutput = [&](std::string text) {
    for (std::string::size_type at; (at = text.find(plain.string() + "/")) != std::string::npos;) {
      text.replace(at, plain.string().size(), backup.string());
    }
    return text;
  };
  const Outcome fromPlain = Velmora({"analyse", plain.string(), "messages", "--json"});
  const Outcome fromStdin = Velmora(withStdin(analyse), encryption.password);
  EXPECT_EQ(fromStdin.status, 0) << fromStdin.err;
  EXPECT_TRUE(fromStdin.out == twinOutput(fromPlain.out));
  EXPECT_NE(fromStdin.out.find(backup.string() + "/"), std::string::npos);
  ::setenv("VELMORA_BACKUP_PASSWORD", encryption.password.c_str(), 1);
  const Outcome fromEnvironment = Velmora(analyse);
  EXPECT_TRUE(fromEnvironment.out == fromStdin.out);

  // The media files copied out of the encrypted backup are the phone's.
  const Outcome recovered = Velmora({"recover", backup.string(), "photos", "--out", (temp_.Path() / "e").string(), "--label", "L"});
  const Outcome recoveredPlain = Velmora({"recover", plain.string(), "photos", "--out", (temp_.Path() / "p").string(), "--label", "L"});
  EXPECT_EQ(recovered.status, 0) << recovered.err;
  EXPECT_EQ(sample::SnapshotFolder(temp_.Path() / "e"), sample::SnapshotFolder(temp_.Path() / "p"));
  EXPECT_GT(sample::SnapshotFolder(temp_.Path() / "p").size(), 5u);

  // info and the catalogue say the backup is encrypted, with or without the
  // password; its files are counted once it is open.
  const Outcome info = Velmora({"info", backup.string(), "--json"});
  EXPECT_EQ(info.status, 0) << info.err;
  const auto infoJson = nlohmann::json::parse(info.out);
  EXPECT_EQ(infoJson["encrypted"], true);
  EXPECT_GT(infoJson["files"].get<int>(), 50);
  ::unsetenv("VELMORA_BACKUP_PASSWORD");
  const Outcome lockedInfo = Velmora({"info", backup.string(), "--json"});
  EXPECT_EQ(lockedInfo.status, 1);
  const auto lockedJson = nlohmann::json::parse(lockedInfo.out);
  EXPECT_EQ(lockedJson["encrypted"], true);
  EXPECT_EQ(lockedJson["source"], "Manifest.db");
  EXPECT_TRUE(lockedJson["files"].is_null());
  EXPECT_EQ(lockedJson["deviceName"], "Lin's iPhone");
  EXPECT_EQ(nlohmann::json::parse(Velmora({"info", plain.string(), "--json"}).out)["encrypted"], false);
  const Outcome catalogue = Velmora({"backups", "--no-default-roots", "--root", temp_.Path().string(), "--json"});
  std::map<std::string, bool> encryptedByFolder;
  for (const auto& entry : nlohmann::json::parse(catalogue.out)) encryptedByFolder[entry["folder"]] = entry["encrypted"];
  EXPECT_EQ(encryptedByFolder[backup.string()], true);
  EXPECT_EQ(encryptedByFolder[plain.string()], false);

  EXPECT_EQ(sample::SnapshotFolder(backup), before);
  EXPECT_TRUE(fs::is_empty(tempRoot)) << "every run removed its private folder";
  ::unsetenv("VELMORA_TEMP_DIR");
}

class CliCatalogueTest : public CliTest {
 protected:
  void SetUp() override {
    fs::create_directories(temp_.Path() / "itunes");
    fs::create_directories(temp_.Path() / "app-backup");
    ::setenv("VELMORA_BACKUP_ROOT", (temp_.Path() / "itunes").c_str(), 1);
    ::setenv("VELMORA_APP_BACKUP_DIR", (temp_.Path() / "app-backup").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("VELMORA_BACKUP_ROOT");
    ::unsetenv("VELMORA_APP_BACKUP_DIR");
  }
};

TEST_F(CliCatalogueTest, BackupsListsTheCatalogueOfTheRootsGiven) {
  const fs::path root = temp_.Path() / "root";
  sample::DeviceInfo device;
  device.deviceName = "Lin's iPhone";
  device.productType = "iPhone12,1";
  device.lastBackupDate = 1478307200;  // 2016-11-05T00:53:20Z
  sample::SampleBackupBuilder builder = sample::DemoBackup();
  builder.SetDevice(device);
  builder.Write(root / "a", sample::BackupMode::kManifestDb);
  fs::create_directories(root / "not-a-backup");
  // A backup in the default iTunes root is listed after the --root ones.
  sample::DemoBackup().Write(temp_.Path() / "itunes" / "z", sample::BackupMode::kManifestMbdb);

  const Outcome run = Velmora({"backups", "--json", "--root", root.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto json = nlohmann::json::parse(run.out);
  ASSERT_EQ(json.size(), 2u);
  EXPECT_EQ(json[0]["deviceName"], "Lin's iPhone");
  EXPECT_EQ(json[0]["backupTime"], "2016-11-05 08:53:20");
  EXPECT_EQ(json[0]["model"], "iPhone 11");
  EXPECT_EQ(json[0]["systemVersion"], "14.3");
  EXPECT_EQ(json[0]["folder"], (root / "a").string());
  EXPECT_FALSE(json[0]["size"].get<std::string>().empty());
  EXPECT_GT(json[0]["sizeBytes"].get<std::uint64_t>(), 0u);
  EXPECT_EQ(json[1]["folder"], (temp_.Path() / "itunes" / "z").string());

  const Outcome only = Velmora({"backups", "--no-default-roots", "--root", root.string()});
  ASSERT_EQ(only.status, 0) << only.err;
  EXPECT_NE(only.out.find("[1] Lin's iPhone"), std::string::npos);
  EXPECT_NE(only.out.find("Model:          iPhone 11"), std::string::npos);
  EXPECT_EQ(only.out.find("[2]"), std::string::npos);

  const Outcome none = Velmora({"backups", "--json", "--no-default-roots"});
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(nlohmann::json::parse(none.out), nlohmann::json::array());
}

TEST_F(CliCatalogueTest, PackageWritesTheArchiveAndPrintsItsPath) {
  const fs::path root = temp_.Path() / "root";
  sample::AppsDemoBackup().Write(root / "a", sample::BackupMode::kManifestDb);
  const auto before = sample::SnapshotFolder(root);
  const fs::path out = temp_.Path() / "out";
  struct Case {
    const char* app;
    const char* file;
  };
  for (const Case& c : {Case{"wechat", "wx.7z"}, Case{"qq", "QQ.7z"}}) {
    const Outcome run = Velmora({"package", c.app, "--out", out.string(), "--root", root.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, (out / c.file).string() + "\n");
    EXPECT_GT(fs::file_size(out / c.file), 0u);
  }
  EXPECT_EQ(sample::SnapshotFolder(root), before);
  // The package folders are remembered in the settings, as the desktop
  // program remembers them.
  const auto settings = platform::ReadWholeFile(temp_.Path() / "config" / "Velmora.ini");
  ASSERT_TRUE(settings.has_value());
  const std::string text(settings->begin(), settings->end());
  EXPECT_NE(text.find("[WxExport]\nWxExport=" + out.string()), std::string::npos) << text;
  EXPECT_NE(text.find("[QQExport]\nQQExport=" + out.string()), std::string::npos) << text;

  EXPECT_EQ(Velmora({"package", "whatsapp", "--out", out.string()}).status, 2);
  EXPECT_EQ(Velmora({"package", "qq"}).status, 2);
  // The folder cannot be made: a file stands in its place.
  std::ofstream(temp_.Path() / "file") << "x";
  const Outcome blocked = Velmora({"package", "qq", "--out", (temp_.Path() / "file").string()});
  EXPECT_EQ(blocked.status, 1);
  EXPECT_FALSE(blocked.err.empty());
}

}  // namespace
