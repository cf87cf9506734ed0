#include "platform/replace_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/fs.h"

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const platform::FolderEntry& entry : platform::ListFolder(folder)) names.push_back(entry.name);
  return names;
}

class ReplaceFileTest : public ::testing::Test {
 protected:
  platform::TempFolder temp_{"velmora-replace"};
  const fs::path target_ = temp_.Path() / "Velmora.ini";
};

TEST_F(ReplaceFileTest, ReplacesAnExistingFileWholeAndMakesAMissingOne) {
  EXPECT_FALSE(platform::ReplaceFile(target_, "first, and rather long\n"));
  EXPECT_EQ(ReadText(target_), "first, and rather long\n");
  // A shorter content leaves nothing of the longer one behind.
  EXPECT_FALSE(platform::ReplaceFile(target_, "2nd"));
  EXPECT_EQ(ReadText(target_), "2nd");
  EXPECT_FALSE(platform::ReplaceFile(target_, ""));
  EXPECT_EQ(ReadText(target_), "");
  EXPECT_EQ(Names(temp_.Path()), std::vector<std::string>{"Velmora.ini"});
}

TEST_F(ReplaceFileTest, TheWriterFillsTheDescriptorItIsGiven) {
  WriteText(target_, "old");
  const std::string text = "written through the descriptor";
  const std::error_code error = platform::ReplaceFileWith(target_, [&text](int descriptor) {
    return ::write(descriptor, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  });
  EXPECT_FALSE(error) << error.message();
  EXPECT_EQ(ReadText(target_), text);
  EXPECT_EQ(Names(temp_.Path()), std::vector<std::string>{"Velmora.ini"});
}

TEST_F(ReplaceFileTest, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
  WriteText(target_, "old content");
  const std::error_code error = platform::ReplaceFileWith(target_, [](int descriptor) {
    // Half the content, then the writer gives up (a full disk, say).
    return ::write(descriptor, "new", 3) == 3 && false;
  });
  EXPECT_EQ(error, std::errc::io_error);
  EXPECT_EQ(ReadText(target_), "old content");
  EXPECT_EQ(Names(temp_.Path()), std::vector<std::string>{"Velmora.ini"});

  // A folder that does not exist: nothing is made anywhere.
  EXPECT_EQ(platform::ReplaceFile(temp_.Path() / "missing" / "Velmora.ini", "x"),
            std::errc::no_such_file_or_directory);
  EXPECT_EQ(Names(temp_.Path()), std::vector<std::string>{"Velmora.ini"});
  EXPECT_EQ(platform::ReplaceFile(temp_.Path() / "", "x"), std::errc::invalid_argument);
}

// A link in place of the file is refused; folders reached through the
// user's own links are written into where they lead.
TEST_F(ReplaceFileTest, ALinkAtTheTargetIsRefusedAndLinkedFoldersAreFollowed) {
  const fs::path elsewhere = temp_.Path() / "elsewhere";
  fs::create_directory(elsewhere);
  WriteText(elsewhere / "Velmora.ini", "not ours");
  fs::create_directory(temp_.Path() / "real");
  fs::create_symlink(elsewhere, temp_.Path() / "linked-folder");
  fs::create_symlink(elsewhere / "Velmora.ini", temp_.Path() / "real" / "linked.ini");

  EXPECT_EQ(platform::ReplaceFile(temp_.Path() / "real" / "linked.ini", "ours"),
            std::errc::too_many_symbolic_link_levels);
  EXPECT_EQ(ReadText(elsewhere / "Velmora.ini"), "not ours");
  EXPECT_TRUE(fs::is_symlink(temp_.Path() / "real" / "linked.ini"));
  EXPECT_EQ(Names(temp_.Path() / "real"), std::vector<std::string>{"linked.ini"});

  EXPECT_FALSE(platform::ReplaceFile(temp_.Path() / "linked-folder" / "settings.ini", "ours"));
  EXPECT_EQ(ReadText(elsewhere / "settings.ini"), "ours");
  EXPECT_FALSE(platform::ReplaceFile(temp_.Path() / "linked-folder" / ".." / "real" / "Velmora.ini", "ours"));
  EXPECT_EQ(ReadText(temp_.Path() / "real" / "Velmora.ini"), "ours");
  EXPECT_EQ(Names(elsewhere), (std::vector<std::string>{"Velmora.ini", "settings.ini"}));
}

}  // namespace
