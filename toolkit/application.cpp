#include "toolkit/application.h"

#include <fstream>
#include <sstream>

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFont>
#include <QFontDatabase>
#include <QUrl>

#include "platform/paths.h"
#include "toolkit/qt_text.h"

// fontconfig keeps its configuration for the life of the process and Qt
// never hands it back at exit. In the sanitizer builds LeakSanitizer is told
// that this one system leak is not ours, so that any leak of our own still
// fails a test or a run of the program. Unused in other builds.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace toolkit {
namespace {

// The first of these that the machine has draws the Chinese texts; a font
// without CJK glyphs would leave boxes.
QFont InterfaceFont() {
  const QStringList preferred{"Noto Sans CJK SC", "WenQuanYi Micro Hei", "Source Han Sans SC", "Microsoft YaHei",
                              "PingFang SC"};
  const QStringList available = QFontDatabase::families();
  QFont font = QApplication::font();
  for (const QString& family : preferred)
    if (available.contains(family)) {
      font.setFamilies({family});
      break;
    }
  font.setPixelSize(13);
  return font;
}

}  // namespace

CApplication::CApplication(int& argc, char** argv) : application_(std::make_unique<QApplication>(argc, argv)) {
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setFont(InterfaceFont());
  const std::string theme = LoadTheme();
  if (!theme.empty()) application_->setStyleSheet(ToQString(theme));
}

CApplication::~CApplication() = default;

int CApplication::Exec() { return QApplication::exec(); }

std::string LoadTheme() {
  std::ifstream in(platform::SkinFolder() / "theme.qss", std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool OpenInFileManager(const std::string& folder) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(ToQString(folder)));
}

std::optional<std::string> PickFolder(const std::string& startFolder, const std::string& caption) {
  const QString chosen = QFileDialog::getExistingDirectory(nullptr, ToQString(caption), ToQString(startFolder),
                                                           QFileDialog::ShowDirsOnly);
  if (chosen.isEmpty()) return std::nullopt;
  return FromQString(chosen);
}

}  // namespace toolkit
