#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/crash.h"
#include "app/process.h"
#include "app/product_config.h"
#include "app/reports.h"
#include "app/settings.h"
#include "app/startup.h"
#include "platform/fs.h"
#include "platform/paths.h"

namespace {

namespace fs = std::filesystem;

// Upper bound for waiting on a delivery that is expected; never reached
// when the code works.
constexpr int kDeliveryWaitMs = 20000;

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

void WriteFile(const fs::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A report server on 127.0.0.1. Connections wait in the listen backlog, so
// a synchronous send completes before anything is accepted here.
class LoopbackServer {
 public:
  LoopbackServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listener_, 32) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "cannot listen on 127.0.0.1";
    }
    port_ = ntohs(address.sin_port);
  }
  ~LoopbackServer() { ::close(listener_); }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  app::ReportServer Server() const { return *app::ParseReportServer(Address()); }

  // The bytes of the next connection, read to its end; nothing when no
  // connection came within the bound.
  std::optional<std::vector<std::uint8_t>> Receive() {
    pollfd wait{listener_, POLLIN, 0};
    if (::poll(&wait, 1, kDeliveryWaitMs) != 1) return std::nullopt;
    const int connection = ::accept(listener_, nullptr, nullptr);
    if (connection < 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    std::uint8_t buffer[4096];
    for (;;) {
      pollfd readable{connection, POLLIN, 0};
      if (::poll(&readable, 1, kDeliveryWaitMs) != 1) break;
      const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      bytes.insert(bytes.end(), buffer, buffer + got);
    }
    ::close(connection);
    return bytes;
  }

  // True when no connection is waiting. Valid once every send that could
  // have happened has returned.
  bool NothingArrived() {
    pollfd wait{listener_, POLLIN, 0};
    return ::poll(&wait, 1, 0) == 0;
  }

 private:
  int listener_ = -1;
  std::uint16_t port_ = 0;
};

std::uint32_t CodeOf(const std::vector<std::uint8_t>& packet) {
  std::uint32_t code = 0;
  for (int i = 3; i >= 0; --i) code = (code << 8) | packet.at(10 + static_cast<std::size_t>(i));
  return code;
}

std::string TextOf(const std::vector<std::uint8_t>& packet) {
  return std::string(reinterpret_cast<const char*>(packet.data() + 79));
}

std::string MachineOf(const std::vector<std::uint8_t>& packet) {
  return std::string(reinterpret_cast<const char*>(packet.data() + 14));
}

// ---- product configuration ----

const char* const kBaseDat =
    "[Setting]\nBrand=Acme\nVersion=2.5\nLanguage=zh-CN\nOwner=AcmeSoft\nDetail=\nReportServer=\n";

void WriteConfig(const fs::path& folder, const std::string& base, const std::string& product) {
  WriteFile(folder / "Base.dat", base);
  WriteFile(folder / "Recovery.dat", app::ScrambleProductText(product));
}

TEST(ConfigKey, LowerCasesAndEndsInColon) {
  const struct {
    const char* name;
    const char* key;
  } cases[] = {{"Brand", "brand:"}, {"brand:", "brand:"}, {"LINK1:", "link1:"}, {"", ":"}, {"2.5-LocalName", "2.5-localname:"}};
  for (const auto& c : cases) EXPECT_EQ(app::ConfigKey(c.name), c.key) << c.name;
}

TEST(ProductConfig, LookupPrefersVersionThenDefault) {
  const platform::TempFolder folder("app-config");
  WriteConfig(folder.Path(), kBaseDat,
              "2.5-LocalName:Versioned\r\n"
              "Default-LocalName:Fallback\n"
              "default-company:Acme Co\n"
              "1.0-company:Old\n"
              "default-link1:https://example.org/a?b=c:d\n"
              "2.5-link2:https://example.org/two\n"
              "no colon line\n");
  app::CProductConfig config;
  ASSERT_EQ(config.Load(folder.Path()), "");
  const struct {
    const char* name;
    const char* value;
  } cases[] = {{"LocalName", "Versioned"}, {"localname:", "Versioned"}, {"COMPANY", "Acme Co"},
               {"company:", "Acme Co"},    {"Missing", ""},             {"link1", "https://example.org/a?b=c:d"}};
  for (const auto& c : cases) EXPECT_EQ(config.Product(c.name), c.value) << c.name;
  EXPECT_EQ(config.Base("BRAND"), "Acme");
  EXPECT_EQ(config.Base("version:"), "2.5");
  EXPECT_EQ(config.Base("Detail"), "");
  EXPECT_EQ(config.Base("Unknown"), "");
  EXPECT_EQ(config.Links(), (std::vector<std::string>{"https://example.org/a?b=c:d", "https://example.org/two"}));
  EXPECT_EQ(config.ProductText("X7"), "AcmeSoft-2.5-X7");
}

TEST(ProductConfig, LoaderErrorsNameTheFailure) {
  const std::string good = "default-localname:Velmora\n";
  const struct {
    const char* name;
    std::optional<std::string> base;
    std::optional<std::string> productBytes;
    const char* error;
  } cases[] = {
      {"no base file", std::nullopt, app::ScrambleProductText(good), "ReadBaseCfg err 1"},
      {"no brand", "[Setting]\nVersion=1\nLanguage=en\n", app::ScrambleProductText(good), "ReadBaseCfg err 1"},
      {"no version", "[Setting]\nBrand=B\nLanguage=en\n", app::ScrambleProductText(good), "ReadBaseCfg err 2"},
      {"no language", "[Setting]\nBrand=B\nVersion=1\n", app::ScrambleProductText(good), "ReadBaseCfg err 3"},
      {"wrong section", "[Other]\nBrand=B\nVersion=1\nLanguage=en\n", app::ScrambleProductText(good), "ReadBaseCfg err 1"},
      {"no product file", kBaseDat, std::nullopt, "GetSoftCfgFromFile err 1"},
      {"empty product file", kBaseDat, std::string(), "GetSoftCfgFromFile err 2"},
      {"odd size", kBaseDat, app::ScrambleProductText(good) + "x", "GetSoftCfgFromFile err 4"},
      {"not scrambled", kBaseDat, std::string("\xFF\xFEh\0i\0", 6), "InitSoftCfg err 1"},
      {"no entries", kBaseDat, app::ScrambleProductText("nothing here\n"), "InitSoftCfg err 1"},
      {"lone surrogate", kBaseDat, app::ScrambleProductText(good) + std::string("\x2D\x86", 2), "InitSoftCfg err 1"},
  };
  for (const auto& c : cases) {
    const platform::TempFolder folder("app-config");
    if (c.base) WriteFile(folder.Path() / "Base.dat", *c.base);
    if (c.productBytes) WriteFile(folder.Path() / "Recovery.dat", *c.productBytes);
    app::CProductConfig config;
    EXPECT_EQ(config.Load(folder.Path()), c.error) << c.name;
    EXPECT_EQ(config.Product("LocalName"), "") << c.name;
  }
}

TEST(ProductConfig, ShippedFilesLoadWithoutReportServer) {
  app::CProductConfig config;
  ASSERT_EQ(config.Load(platform::ProgramDataFolder()), "");
  EXPECT_EQ(config.Base("ReportServer"), "");
  EXPECT_FALSE(config.Product("LocalName").empty());
  EXPECT_FALSE(config.Product("Company").empty());
  EXPECT_FALSE(config.Product("DisplayName").empty());
}

TEST(ProductConfig, ScrambleRoundTripKeepsChinese) {
  std::string back;
  ASSERT_TRUE(app::UnscrambleProductText(app::ScrambleProductText("名称:数据恢复 😀"), back));
  EXPECT_EQ(back, "名称:数据恢复 😀");
}

// ---- process values ----

TEST(RunNum, StepsUpToTildeAndStops) {
  const struct {
    std::optional<std::string> previous;
    const char* stored;
    int count;
  } cases[] = {{std::nullopt, "1", 2}, {"", "1", 2},      {"1", "2", 3},  {"9", ":", 11},
               {"}", "~", 79},         {"~", "~", 79},    {"12", "1", 2}, {"\x7F", "1", 2}};
  for (const auto& c : cases) {
    const app::RunNumStep step = app::NextRunNum(c.previous);
    EXPECT_EQ(step.stored, c.stored) << c.previous.value_or("<absent>");
    EXPECT_EQ(step.count, c.count) << c.previous.value_or("<absent>");
  }
}

TEST(ChannelText, OnlyLettersAndDigitsElseZero) {
  const struct {
    std::optional<std::string> stored;
    const char* baseDetail;
    const char* channel;
  } cases[] = {{"Abc123", "", "Abc123"}, {std::nullopt, "", "0"}, {"", "", "0"},        {"ab-c", "", "0"},
               {"a b", "", "0"},         {"渠道", "", "0"},      {"x", "", "x"},        {"x", "QQ", "QQ"},
               {std::nullopt, "ABCD", "ABCD"}, {std::nullopt, "ABCDE", "0"}, {"xy", "QQ", "xy"}};
  for (const auto& c : cases) {
    EXPECT_EQ(app::ChannelText(c.stored, c.baseDetail), c.channel) << c.stored.value_or("<absent>") << "/" << c.baseDetail;
  }
}

TEST(MachineId, HashedWithinLimitsAndWithoutSpaces) {
  const std::string id = app::MakeMachineId("0123456789abcdef serial", "my laptop");
  EXPECT_LE(id.size(), 63u);
  EXPECT_EQ(id.find(' '), std::string::npos);
  const std::size_t join = id.find("-_-");
  ASSERT_NE(join, std::string::npos);
  EXPECT_LE(join, 45u);
  EXPECT_LE(id.size() - 3, 60u);
  EXPECT_EQ(id.find("laptop"), std::string::npos);
  EXPECT_EQ(id.find("serial"), std::string::npos);
  EXPECT_EQ(id, app::MakeMachineId("0123456789abcdef serial", "my laptop"));
  EXPECT_NE(id, app::MakeMachineId("0123456789abcdef serial", "other"));
  EXPECT_EQ(app::MakeMachineId("", ""), "");

  const std::string local = app::LocalMachineId();
  EXPECT_LE(local.size(), 63u);
  EXPECT_EQ(local.find(' '), std::string::npos);
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  if (std::strlen(host) >= 4) {
    EXPECT_EQ(local.find(host), std::string::npos);
  }
}

TEST(RunId, DecimalBelowAMillion) {
  for (std::uint32_t seed : {0u, 1u, 1765350000u, 0xFFFFFFFFu}) {
    const std::string id = app::MakeRunId(seed);
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(id.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_LE(std::stoul(id), 999999u);
    EXPECT_EQ(id, app::MakeRunId(seed));
  }
}

TEST(Language, LocaleGivesWindowsIdAndWarningLanguage) {
  const struct {
    const char* locale;
    unsigned id;
    const char* caption;
  } cases[] = {{"zh_CN.UTF-8", 2052, "警告"}, {"zh_TW.UTF-8", 1028, "警告"}, {"zh_HK", 1028, "警告"},
               {"zh_SG", 2052, "警告"},       {"en_US.UTF-8", 1033, "Warning"}, {"C", 1033, "Warning"},
               {"de_DE", 1033, "Warning"}};
  for (const auto& c : cases) {
    EXPECT_EQ(app::LanguageIdOfLocale(c.locale), c.id) << c.locale;
    EXPECT_EQ(app::ConfigFailureWarning(c.id).caption, c.caption) << c.locale;
  }
  EXPECT_EQ(app::ConfigFailureWarning(2052).text, "抱歉，获取软件配置失败，请重新安装我们软件！");
  EXPECT_EQ(app::ConfigFailureWarning(1033).text, "Get software configuration failed. Please setup software again!");
}

TEST(StartLine, Format) {
  EXPECT_EQ(app::FormatStartLine(1, 3, "Owner-1.0-0", "0.1.0.0", 0, "6.1.0", "4711"),
            "1 3 Owner-1.0-0 ver: 0.1.0.0   Svn: 0   OS: 6.1.0   ID: 4711");
  const std::string fileVersion = app::ProgramFileVersion();
  const std::string systemVersion = app::SystemVersion();
  EXPECT_EQ(std::count(fileVersion.begin(), fileVersion.end(), '.'), 3) << fileVersion;
  EXPECT_EQ(std::count(systemVersion.begin(), systemVersion.end(), '.'), 2) << systemVersion;
}

// ---- packets and the sender ----

TEST(ReportPacket, ByteExact) {
  const app::Packet packet = app::BuildReportPacket(27, "abc-_-def", "IPHONE:x");
  std::vector<std::uint8_t> expected(1104, 0);
  const std::uint8_t head[] = {'Z', 'U', 'V', ' ', 0x50, 0x04, 0, 0, 1, 1, 27, 0, 0, 0};
  std::copy(std::begin(head), std::end(head), expected.begin());
  const std::string id = "abc-_-def";
  std::copy(id.begin(), id.end(), expected.begin() + 14);
  const std::string text = "IPHONE:x";
  std::copy(text.begin(), text.end(), expected.begin() + 79);
  EXPECT_EQ(packet, expected);
}

TEST(ReportPacket, LongFieldsAreCutAndStayTerminated) {
  const app::Packet packet = app::BuildReportPacket(0x01020304, std::string(100, 'm'), std::string(5000, 't'));
  ASSERT_EQ(packet.size(), 1104u);
  EXPECT_EQ(CodeOf(packet), 0x01020304u);
  EXPECT_EQ(MachineOf(packet), std::string(64, 'm'));
  EXPECT_EQ(packet[78], 0);
  EXPECT_EQ(TextOf(packet), std::string(1024, 't'));
  EXPECT_EQ(packet[1103], 0);
}

TEST(DumpPacket, HeaderThenFile) {
  const std::vector<std::uint8_t> dump = {9, 8, 7};
  const app::Packet packet = app::BuildDumpPacket("i0Velmora3_id_1234.dmp", dump);
  ASSERT_EQ(packet.size(), 77u);
  const std::uint8_t head[] = {'Z', 'U', 'V', ' ', 77, 0, 0, 0, 2, 1};
  EXPECT_TRUE(std::equal(std::begin(head), std::end(head), packet.begin()));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(packet.data() + 10)), "i0Velmora3_id_1234.dmp");
  EXPECT_TRUE(std::all_of(packet.begin() + 10 + 22, packet.begin() + 74, [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(std::vector<std::uint8_t>(packet.begin() + 74, packet.end()), dump);
}

TEST(ReportServerAddress, Parse) {
  const struct {
    const char* text;
    bool valid;
    std::uint16_t port;
  } cases[] = {{"", false, 0},           {"10.0.0.1", true, 7000}, {" 10.0.0.1:8123 ", true, 8123},
               {"10.0.0.1:0", false, 0}, {"10.0.0.1:70000", false, 0}, {"reports.example.org", false, 0},
               {"10.0.0.1:", false, 0},  {"10.0.0", false, 0},     {"10.0.0.1:12x", false, 0}};
  for (const auto& c : cases) {
    const auto server = app::ParseReportServer(c.text);
    EXPECT_EQ(server.has_value(), c.valid) << c.text;
    if (server && c.valid) {
      EXPECT_EQ(server->port, c.port) << c.text;
    }
  }
}

TEST(ReportSender, DeliversQueuedAndDirectReportsToTheServer) {
  LoopbackServer server;
  app::CReportSender sender;
  sender.Configure(server.Server(), true, "machine-_-id");
  sender.Start();
  EXPECT_TRUE(sender.ReportEvent("Recovery Phone"));
  const auto queued = server.Receive();
  ASSERT_TRUE(queued);
  EXPECT_EQ(*queued, app::BuildReportPacket(27, "machine-_-id", "IPHONE:Recovery Phone"));

  EXPECT_TRUE(sender.Report(1, "ID: 5", false));
  const auto direct = server.Receive();
  ASSERT_TRUE(direct);
  EXPECT_EQ(*direct, app::BuildReportPacket(1, "machine-_-id", "ID: 5"));
  sender.Stop();
}

TEST(ReportSender, StopSendsWhatIsStillQueuedInOrder) {
  LoopbackServer server;
  app::CReportSender sender;
  sender.Configure(server.Server(), true, "m");
  sender.Start();
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(sender.Report(0, "line " + std::to_string(i), true));
  sender.Stop();
  for (int i = 0; i < 5; ++i) {
    const auto packet = server.Receive();
    ASSERT_TRUE(packet);
    EXPECT_EQ(TextOf(*packet), "line " + std::to_string(i));
  }
  EXPECT_FALSE(sender.Report(0, "after stop", true));
}

TEST(ReportSender, NothingLeavesWithoutConsentServerOrMachineId) {
  LoopbackServer server;
  const struct {
    const char* name;
    bool withServer;
    bool consent;
    const char* machineId;
  } cases[] = {{"no consent", true, false, "m"}, {"no server", false, true, "m"}, {"no machine id", true, true, ""},
               {"nothing", false, false, ""}};
  for (const auto& c : cases) {
    app::CReportSender sender;
    sender.Configure(c.withServer ? std::optional(server.Server()) : std::nullopt, c.consent, c.machineId);
    sender.Start();
    EXPECT_FALSE(sender.Enabled()) << c.name;
    EXPECT_FALSE(sender.Report(0, "queued", true)) << c.name;
    EXPECT_FALSE(sender.Report(1, "direct", false)) << c.name;
    EXPECT_FALSE(sender.SendDump("d.dmp", std::vector<std::uint8_t>{1, 2})) << c.name;
    sender.Stop();
    EXPECT_TRUE(server.NothingArrived()) << c.name;
  }
}

TEST(ReportSender, UnreachableServerIsDroppedQuietly) {
  std::optional<app::ReportServer> closed;
  {
    LoopbackServer gone;
    closed = gone.Server();
  }
  app::CReportSender sender;
  sender.Configure(closed, true, "m");
  sender.Start();
  EXPECT_FALSE(sender.Report(1, "direct", false));
  EXPECT_TRUE(sender.Report(0, "queued", true));
  sender.Stop();
}

// ---- settings ----

class SettingsTest : public ::testing::Test {
 protected:
  platform::TempFolder folder_{"app-settings"};
  ScopedEnv config_{"VELMORA_CONFIG_DIR", (folder_.Path() / "config").string()};
};

TEST_F(SettingsTest, RoundTripWithChineseSections) {
  EXPECT_EQ(app::SettingsFilePath(), folder_.Path() / "config" / "Velmora.ini");
  EXPECT_EQ(app::ReadSetting("存储配置", "BackupPath", "默认"), "默认");
  ASSERT_TRUE(app::WriteSetting("存储配置", "BackupPath", "/home/用户/备份 1"));
  ASSERT_TRUE(app::WriteSetting("QQExport", "QQExport", "/tmp/qq"));
  ASSERT_TRUE(app::WriteSetting("WxExport", "WxExport", "/tmp/wx=1"));
  ASSERT_TRUE(app::WriteSetting("存储配置", "SavePath", "/导出"));
  ASSERT_TRUE(app::WriteSetting("存储配置", "backuppath", "/新"));
  EXPECT_EQ(app::ReadSetting("存储配置", "BackupPath"), "/新");
  EXPECT_EQ(app::ReadSetting("存储配置", "SavePath"), "/导出");
  EXPECT_EQ(app::ReadSetting("QQExport", "QQExport"), "/tmp/qq");
  EXPECT_EQ(app::ReadSetting("WxExport", "WxExport"), "/tmp/wx=1");
  EXPECT_EQ(app::ReadSetting("QQExport", "WxExport", "none"), "none");
  EXPECT_EQ(ReadFile(app::SettingsFilePath()),
            "[存储配置]\nbackuppath=/新\nSavePath=/导出\n[QQExport]\nQQExport=/tmp/qq\n[WxExport]\nWxExport=/tmp/wx=1\n");
  for (const auto& entry : fs::directory_iterator(folder_.Path() / "config")) {
    EXPECT_EQ(entry.path().filename(), "Velmora.ini") << "left behind: " << entry.path();
  }
}

TEST_F(SettingsTest, KeepsForeignLinesAndReadsWindowsStyleFiles) {
  fs::create_directories(folder_.Path() / "config");
  WriteFile(app::SettingsFilePath(), "\xEF\xBB\xBF; comment\r\n[存储配置]\r\n BackupPath = D:\\备份 \r\nOther=1\r\n\r\n[B]\r\nk=v\r\n");
  EXPECT_EQ(app::ReadSetting("存储配置", "backuppath"), "D:\\备份");
  ASSERT_TRUE(app::WriteSetting("存储配置", "BackupPath", "/x"));
  EXPECT_EQ(ReadFile(app::SettingsFilePath()), "; comment\n[存储配置]\nBackupPath=/x\nOther=1\n\n[B]\nk=v\n");
  ASSERT_TRUE(app::WriteSetting("存储配置", "SavePath", "/y"));
  EXPECT_EQ(ReadFile(app::SettingsFilePath()), "; comment\n[存储配置]\nBackupPath=/x\nOther=1\nSavePath=/y\n\n[B]\nk=v\n");
}

TEST_F(SettingsTest, RefusesWhatAnIniLineCannotHoldAndLeavesTheFile) {
  ASSERT_TRUE(app::WriteSetting("S", "K", "kept"));
  const std::string before = ReadFile(app::SettingsFilePath());
  const struct {
    const char* section;
    const char* key;
    const char* value;
  } cases[] = {{"S", "K", "two\nlines"}, {"S", "K", "cr\r"}, {"S", "K=x", "v"}, {"S]", "K", "v"},
               {"", "K", "v"},           {"S", "", "v"},     {"S", " ", "v"},   {"S\n[T]", "K", "v"}};
  for (const auto& c : cases) EXPECT_FALSE(app::WriteSetting(c.section, c.key, c.value)) << c.section << "/" << c.key;
  EXPECT_EQ(ReadFile(app::SettingsFilePath()), before);
}

TEST_F(SettingsTest, UnwritableFolderFailsWithoutDamage) {
  const fs::path blocker = folder_.Path() / "file";
  WriteFile(blocker, "x");
  EXPECT_FALSE(app::WriteIniValue(blocker / "Velmora.ini", "S", "K", "v"));
  EXPECT_EQ(ReadFile(blocker), "x");
}

// ---- start sequence ----

class StartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(data_);
    WriteConfig(data_,
                std::string("[Setting]\nBrand=Acme\nVersion=2.5\nLanguage=zh-CN\nOwner=AcmeSoft\nDetail=\n") +
                    "ReportServer=" + server_.Address() + "\n",
                "default-localname:Velmora\ndefault-company:Acme\ndefault-displayname:Velmora 数据恢复\n");
  }
  void Consent(const char* value) {
    ASSERT_TRUE(app::WriteIniValue(app::RegistryFilePath(), app::MachineSection("Acme", "Velmora"), "JoinImproveSoft", value));
  }
  std::string RunNum() {
    return app::ReadIniValue(app::RegistryFilePath(), app::MachineSection("Acme", "Velmora"), "RunNum", "<absent>");
  }

  LoopbackServer server_;
  platform::TempFolder folder_{"app-start"};
  fs::path data_ = folder_.Path() / "data";
  ScopedEnv dataEnv_{"VELMORA_DATA_DIR", data_.string()};
  ScopedEnv configEnv_{"VELMORA_CONFIG_DIR", (folder_.Path() / "config").string()};
  ScopedEnv userDataEnv_{"VELMORA_USER_DATA_DIR", (folder_.Path() / "user").string()};
};

TEST_F(StartTest, RunsTheMainWindowAndReportsStartAndExit) {
  Consent("1");
  int calls = 0;
  std::string title;
  const int result = app::RunApplication([&] {
    ++calls;
    title = app::Process().displayName;
    return 42;
  });
  EXPECT_EQ(result, 42);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(title, "Velmora 数据恢复");
  EXPECT_EQ(RunNum(), "1");
  const std::string runId = app::Process().runId;

  std::vector<std::vector<std::uint8_t>> packets;
  for (int i = 0; i < 2; ++i) {
    auto packet = server_.Receive();
    ASSERT_TRUE(packet);
    ASSERT_EQ(packet->size(), 1104u);
    EXPECT_EQ(MachineOf(*packet), app::Process().machineId);
    packets.push_back(*packet);
  }
  std::sort(packets.begin(), packets.end(), [](const auto& a, const auto& b) { return CodeOf(a) < CodeOf(b); });
  EXPECT_EQ(CodeOf(packets[0]), 0u);
  const std::string startLine = TextOf(packets[0]);
  EXPECT_EQ(startLine.rfind("1 2 AcmeSoft-2.5-0 ver: ", 0), 0u) << startLine;
  EXPECT_NE(startLine.find("   ID: " + runId), std::string::npos) << startLine;
  EXPECT_EQ(CodeOf(packets[1]), 1u);
  EXPECT_EQ(TextOf(packets[1]), "ID: " + runId);
  EXPECT_TRUE(server_.NothingArrived());

  EXPECT_EQ(app::RunApplication([] { return 0; }), 0);
  EXPECT_EQ(RunNum(), "2");
}

TEST_F(StartTest, WithoutConsentNothingIsSent) {
  for (const char* consent : {"", "0", "yes", "11"}) {
    if (*consent != '\0') Consent(consent);
    EXPECT_EQ(app::RunApplication([] { return 7; }), 7);
    EXPECT_FALSE(app::Process().reportConsent) << consent;
    EXPECT_TRUE(server_.NothingArrived()) << consent;
  }
}

TEST_F(StartTest, MissingConfigurationWarnsAndSkipsTheMainWindow) {
  fs::remove(data_ / "Recovery.dat");
  Consent("1");
  const struct {
    const char* locale;
    const char* caption;
  } cases[] = {{"zh_CN.UTF-8", "警告"}, {"zh_TW.UTF-8", "警告"}, {"en_US.UTF-8", "Warning"}};
  for (const auto& c : cases) {
    const ScopedEnv locale("LC_ALL", c.locale);
    bool windowRan = false;
    std::vector<std::string> shown;
    const int result = app::RunApplication([&] { windowRan = true; return 0; },
                                           [&](const std::string& caption, const std::string&) { shown.push_back(caption); });
    EXPECT_EQ(result, 1) << c.locale;
    EXPECT_FALSE(windowRan) << c.locale;
    EXPECT_EQ(shown, std::vector<std::string>{c.caption}) << c.locale;
  }
  EXPECT_TRUE(server_.NothingArrived());
}

TEST_F(StartTest, ChannelFromRegistryAndExceptionStillStopsTheSender) {
  Consent("1");
  ASSERT_TRUE(app::WriteIniValue(app::RegistryFilePath(), app::UserSection("Acme", "Velmora"), "Detail", "Web7"));
  EXPECT_THROW(app::RunApplication([]() -> int { throw std::runtime_error("window failed"); }), std::runtime_error);
  EXPECT_EQ(app::Process().channelText, "Web7");
  const auto packet = server_.Receive();
  ASSERT_TRUE(packet);
  EXPECT_NE(TextOf(*packet).find("AcmeSoft-2.5-Web7"), std::string::npos);
}

// ---- crashes ----

TEST(Crash, SignalSendsExitExceptionAndStillEndsTheProcess) {
  LoopbackServer server;
  app::ArmCrashReport(server.Server(), true, "crash-_-machine");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    app::InstallCrashHandler();
    ::raise(SIGSEGV);
    ::_exit(0);
  }
  const auto packet = server.Receive();
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(packet);
  EXPECT_EQ(*packet, app::BuildReportPacket(27, "crash-_-machine", "Exit exception"));
  EXPECT_TRUE(WIFSIGNALED(status));
  if (WIFSIGNALED(status)) {
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
  }
  app::ArmCrashReport(std::nullopt, false, "");
}

TEST(Crash, DumpNames) {
  EXPECT_EQ(app::DumpFileName(12, "Velmora", 9, 5), "i12Velmora3_0905.dmp");
  EXPECT_EQ(app::DumpReportName("/x/i12Velmora3_0905.dmp", "mid"), "i12Velmora3_mid_0905.dmp");
}

TEST(Crash, DumpSentOnlyBelowLimitAndAlwaysDeleted) {
  LoopbackServer server;
  app::CReportSender sender;
  sender.Configure(server.Server(), true, "mid");
  const platform::TempFolder folder("app-dump");
  const struct {
    std::size_t bytes;
    bool sent;
  } cases[] = {{0, false}, {10, true}, {262143, true}, {262144, false}, {300000, false}};
  for (const auto& c : cases) {
    const fs::path dump = folder.Path() / "i0Velmora3_1234.dmp";
    WriteFile(dump, std::string(c.bytes, 'd'));
    EXPECT_EQ(app::ShipDumpFile(dump, "mid", sender), c.sent) << c.bytes;
    EXPECT_FALSE(fs::exists(dump)) << c.bytes;
    if (c.sent) {
      const auto packet = server.Receive();
      ASSERT_TRUE(packet);
      EXPECT_EQ(packet->size(), c.bytes + 74);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(packet->data() + 10)), "i0Velmora3_mid_1234.dmp");
    }
    EXPECT_TRUE(server.NothingArrived()) << c.bytes;
  }
}

}  // namespace
