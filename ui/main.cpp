// velmora-gui: the desktop program. Starts through the process frame and
// opens the main window; with --render it draws one skin window to a PNG
// file instead (headless), so that every window can be looked at.

#include <cstdlib>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "app/process.h"
#include "app/startup.h"
#include "toolkit/application.h"
#include "toolkit/window.h"
#include "ui/main_frame.h"
#include "ui/message_dialog.h"

namespace {

int RenderSkin(int& argc, char** argv, const std::string& skin, const std::string& out) {
  // Rendering needs no screen: the offscreen platform draws the same pixels.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  toolkit::CApplication application(argc, argv);
  toolkit::CWindow window;
  if (!window.Create(skin, "")) {
    std::cerr << window.LastError() << '\n';
    return 1;
  }
  if (!window.RenderToPng(out)) {
    std::cerr << "Cannot write " << out << '\n';
    return 1;
  }
  std::cout << out << '\n';
  return 0;
}

int RunDesktop(int& argc, char** argv) {
  toolkit::CApplication application(argc, argv);
  auto showWarning = [](const std::string& caption, const std::string& text) {
    ui::CMessageDialog box(nullptr, 1);
    box.SetTexts(caption, text, true);
    box.ShowModal(nullptr);
  };
  return app::RunApplication(
      [&application] {
        ui::CMainFrame frame;
        if (!frame.CreateFrame(app::Process().displayName)) {
          std::cerr << frame.LastError() << '\n';
          return 1;
        }
        frame.CentreOver(nullptr);
        frame.Show();
        return application.Exec();
      },
      showWarning);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App cli{"Velmora: the desktop program"};
  std::string renderSkin;
  std::string renderOut;
  cli.add_option("--render", renderSkin, "draw the window of a skin file (name in the skin folder, or a path)");
  cli.add_option("--out", renderOut, "the PNG file --render writes");
  cli.allow_extras();
  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return cli.exit(error);
  }
  if (!renderSkin.empty() || !renderOut.empty()) {
    if (renderSkin.empty() || renderOut.empty()) {
      std::cerr << "--render and --out go together\n";
      return 2;
    }
    return RenderSkin(argc, argv, renderSkin, renderOut);
  }
  return RunDesktop(argc, argv);
}
