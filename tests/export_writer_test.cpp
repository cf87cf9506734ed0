#include "export/export_writer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "db/text.h"
#include "platform/copy_new_file.h"
#include "platform/fs.h"
#include "platform/text_codec.h"
#include "testing/sample_backup.h"

namespace {

namespace fs = std::filesystem;
using exporting::CExportWriter;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

class RecordingProgress : public exporting::IExportProgress {
 public:
  void SetProgress(float percent) override { value = percent; }
  void AddProgress(float delta) override { value += delta; }
  float value = 0;
};

TEST(SanitiseFileName, RemovesSeparatorsQuotesBlanksAndTrailingStops) {
  struct Case {
    std::string input;
    std::string expected;
  };
  const Case cases[] = {
      {"a/b:c. ..", "abc"},     {"张 三", "张三"},       {"..", ""},
      {"..\\..\\x", "....x"},     {"a<b>c|d*e?f\"g'h", "abcdefgh"}, {"line\r\nbreak", "linebreak"},
      {"Lin's iPhone", "LinsiPhone"},
  };
  for (const Case& c : cases) EXPECT_EQ(exporting::SanitiseFileName(c.input), c.expected) << c.input;
}

TEST(ReplaceAll, GoesOnAfterTheInsertedValue) {
  std::string text = "$a and $a";
  exporting::ReplaceAll(text, "$a", "x$a");
  EXPECT_EQ(text, "x$a and x$a");
}

TEST(LinkRow, PutsHttpInFrontOfAddressesWithoutIt) {
  EXPECT_EQ(exporting::LinkRow("www.example.com", "Ex"),
            "<a href=\"http://www.example.com\" target=\"_blank\" title=\"Ex\">Ex</a><br/>");
  EXPECT_EQ(exporting::LinkRow("HTTPS://a.cn", "A"), "<a href=\"HTTPS://a.cn\" target=\"_blank\" title=\"A\">A</a><br/>");
}

// A bookmark's address and title come from the phone: shown, never run, and
// a title holding a placeholder's name stays text.
TEST(LinkRow, EscapesAddressAndTitle) {
  EXPECT_EQ(exporting::LinkRow("http://a.cn/?q=\"><script>", "<b>$URL & 'x'</b>"),
            "<a href=\"http://a.cn/?q=&quot;&gt;&lt;script&gt;\" target=\"_blank\" "
            "title=\"&lt;b&gt;$URL &amp; &#39;x&#39;&lt;/b&gt;\">&lt;b&gt;$URL &amp; &#39;x&#39;&lt;/b&gt;</a><br/>");
  EXPECT_EQ(exporting::LinkRow("javascript:alert(1)", "j"),
            "<a href=\"http://javascript:alert(1)\" target=\"_blank\" title=\"j\">j</a><br/>");
}

// The lines of a list share 56 points of the bar, from 6 after the header
// to 62, however many there are.
TEST(CExportWriter, ProgressReachesItsShareThroughTheLines) {
  struct Case {
    int count;
    float afterFirstLine;
  };
  for (const Case& c : {Case{1, 62}, Case{8, 13}, Case{56, 7}, Case{100, 6.56f}, Case{1000, 6.056f}}) {
    RecordingProgress progress;
    CExportWriter writer(&progress, 4);
    writer.BeginList(c.count);
    writer.SetHeader("a\r\n");
    EXPECT_FLOAT_EQ(progress.value, 6) << c.count;
    for (int line = 0; line < c.count; ++line) {
      writer.AddLine(exporting::kToCsvAndHtml, "x\r\n", false);
      if (line == 0) {
        EXPECT_FLOAT_EQ(progress.value, c.afterFirstLine) << c.count;
      }
    }
    EXPECT_NEAR(progress.value, 62, 0.01) << c.count;
  }
}

class CExportWriterFiles : public ::testing::Test {
 protected:
  platform::TempFolder temp_{"velmora-export"};
};

TEST_F(CExportWriterFiles, WritesTheCsvTableAndTheListPage) {
  RecordingProgress progress;
  CExportWriter writer(&progress, 4);
  writer.BeginCategory(temp_.Path() / "out", "Lin's iPhone");
  const fs::path folder = writer.Folder();
  EXPECT_EQ(folder.parent_path().parent_path(), temp_.Path() / "out" / "LinsiPhone");
  EXPECT_EQ(folder.filename(), "通讯录");
  EXPECT_TRUE(fs::is_directory(folder));

  writer.BeginList(3);
  writer.SetHeader("名称,手机号码,备注\r\n");
  writer.AddLine(exporting::kToCsvAndHtml, "王小明,13800138000," + db::CsvQuoteField("a,\"b\"") + "\r\n", false);
  writer.AddLine(exporting::kToCsvAndHtml, "<script>alert(1)</script>,x,y\r\n", true);
  writer.AddLine(exporting::kToCsvOnly, "only,in,csv\r\n", false);
  writer.AddLine(exporting::kToHtmlOnly, "only,in,page\r\n", false);
  EXPECT_TRUE(writer.Finish().Ok());

  const std::string csv = platform::Gb18030ToUtf8(ReadText(folder / "表格格式" / "联系人.csv"));
  EXPECT_EQ(csv,
            "名称,手机号码,备注\r\n"
            "王小明,13800138000,\"a，\"\"b\"\"\"\r\n"
            "<script>alert(1)</script>,x,y\r\n"
            "only,in,csv\r\n");
  // The table is GB18030 (GBK bytes for Chinese), not UTF-8.
  EXPECT_NE(ReadText(folder / "表格格式" / "联系人.csv").find("\xCD\xF5"), std::string::npos);

  const std::string page = ReadText(folder / "网页格式" / "联系人.html");
  EXPECT_NE(page.find("<title>Lin&#39;s iPhone 通讯录</title>"), std::string::npos);
  EXPECT_EQ(Count(page, "<th "), 3u);
  EXPECT_EQ(Count(page, "<tr align=\"left\">"), 3u);  // not the CSV-only line
  // The prepared field stays one cell, its quotes shown once.
  EXPECT_NE(page.find("<font color=\"#484848\">a，&quot;b&quot;</font>"), std::string::npos);
  // Text from the phone is shown, not run.
  EXPECT_EQ(page.find("<script>"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  // The deleted row is marked with the colour and the image, once.
  EXPECT_EQ(Count(page, "<IMG src=image/DeleteFlag.png>"), 1u);
  EXPECT_EQ(Count(page, "color=\"#FF6100\""), 3u);
  EXPECT_TRUE(fs::exists(folder / "网页格式" / "image" / "DeleteFlag.png"));
  EXPECT_FLOAT_EQ(progress.value, 80);
}

TEST_F(CExportWriterFiles, AnUnpreparedCommaMakesTwoCellsAndNoImageWithoutDeletedRows) {
  CExportWriter writer(nullptr, 3);
  writer.BeginCategory(temp_.Path(), "指定目录_backup");
  writer.BeginList(1);
  writer.SetHeader("a,b\r\n");
  writer.AddLine(exporting::kToCsvAndHtml, "x,y,z\r\n", false);
  writer.Finish();
  const std::string page = ReadText(writer.Folder() / "网页格式" / "通话记录.html");
  EXPECT_EQ(Count(page, "<td "), 3u);
  EXPECT_FALSE(fs::exists(writer.Folder() / "网页格式" / "image"));
}

TEST_F(CExportWriterFiles, ALabelFromDataStaysInsideTheSaveFolder) {
  CExportWriter writer(nullptr, 5);
  writer.BeginCategory(temp_.Path() / "save", "../../etc");
  const std::string folder = fs::weakly_canonical(writer.Folder()).string();
  EXPECT_EQ(folder.rfind((temp_.Path() / "save").string(), 0), 0u) << folder;
}

// A save folder that cannot hold the export (here a file stands where its
// folder would go): the failure is told, not reported as success.
TEST_F(CExportWriterFiles, AnExportThatCannotBeWrittenSaysSo) {
  sample::WriteBytes(temp_.Path() / "blocked", {'x'});
  CExportWriter writer(nullptr, 5);
  writer.BeginCategory(temp_.Path() / "blocked", "label");
  EXPECT_TRUE(writer.WriteFailed());
  writer.BeginList(1);
  writer.SetHeader("a\r\n");
  writer.AddLine(exporting::kToCsvAndHtml, "x\r\n", false);
  const base::Status finished = writer.Finish();
  EXPECT_EQ(finished.Kind(), base::Status::Code::kUnreadable);
  // The status names what could not be made: the category's folder below
  // the file that blocks it.
  EXPECT_EQ(finished.File().rfind((temp_.Path() / "blocked").string(), 0), 0u) << finished.Text();

  CExportWriter fine(nullptr, 5);
  fine.BeginCategory(temp_.Path() / "free", "label");
  fine.BeginList(1);
  EXPECT_TRUE(fine.Finish().Ok());
  EXPECT_FALSE(fine.WriteFailed());
}

// Asks to stop from its `after`-th question on: a copy asks once before it
// begins and once per chunk.
class StopAfterQuestions : public exporting::IExportProgress {
 public:
  explicit StopAfterQuestions(int after) : after_(after) {}
  void SetProgress(float) override {}
  void AddProgress(float) override {}
  bool Cancelled() const override { return ++questions_ > after_; }

 private:
  int after_;
  mutable int questions_ = 0;
};

// A copy stopped before it begins or in the middle of a file of several
// chunks leaves no file under any name; an earlier file of the same name is
// untouched; a copy not stopped is whole.
TEST_F(CExportWriterFiles, AStoppedCopyLeavesNoFileCutShort) {
  std::vector<std::uint8_t> bytes(3 * platform::kCopyChunkBytes + 123);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  const fs::path source = temp_.Path() / "source.mov";
  sample::WriteBytes(source, bytes);
  const fs::path folder = temp_.Path() / "out";
  fs::create_directories(folder);
  sample::WriteBytes(folder / "clip.mov", {'o', 'l', 'd'});
  struct Case {
    int questionsBeforeStop;
    bool copied;
  };
  for (const Case& c : {Case{0, false}, Case{2, false}, Case{3, false}, Case{1000, true}}) {
    SCOPED_TRACE(c.questionsBeforeStop);
    StopAfterQuestions progress(c.questionsBeforeStop);
    fs::path copiedTo;
    EXPECT_EQ(exporting::CopyUnderFreeName(source, folder, {"clip", ".mov"}, &progress, &copiedTo), c.copied);
    std::vector<std::string> names;
    for (const platform::FolderEntry& entry : platform::ListFolder(folder)) names.push_back(entry.name);
    const std::vector<std::string> expected =
        c.copied ? std::vector<std::string>{"clip 2.mov", "clip.mov"} : std::vector<std::string>{"clip.mov"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(ReadText(folder / "clip.mov"), "old");
    if (c.copied) {
      EXPECT_EQ(copiedTo, folder / "clip 2.mov");
      EXPECT_EQ(platform::ReadWholeFile(copiedTo), bytes);
    }
  }
}

// A writer whose run was asked to stop before Finish writes neither the
// table nor the page: they would hold only the records added so far.
TEST_F(CExportWriterFiles, AStoppedListWritesNoTableAndNoPage) {
  StopAfterQuestions progress(0);
  CExportWriter writer(&progress, 5);
  writer.BeginCategory(temp_.Path(), "label");
  writer.BeginList(2);
  writer.SetHeader("a\r\n");
  writer.AddLine(exporting::kToCsvAndHtml, "x\r\n", false);
  const base::Status finished = writer.Finish();
  EXPECT_EQ(finished.Kind(), base::Status::Code::kCancelled);
  EXPECT_EQ(finished.File(), writer.Folder().string());
  EXPECT_TRUE(platform::ListFolder(writer.Folder()).empty());
}

}  // namespace
