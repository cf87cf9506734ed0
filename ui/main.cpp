// velmora-gui: the desktop program. Starts through the process frame and
// opens the main window; with --render it draws one skin window to a PNG
// file instead (headless), so that every window can be looked at.

#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "app/process.h"
#include "app/startup.h"
#include "platform/environment.h"
#include "toolkit/application.h"
#include "toolkit/window.h"
#include "ui/main_frame.h"
#include "ui/message_dialog.h"

namespace {

// What --render changes before drawing: texts (NAME=TEXT) and controls
// shown or hidden by name, so that any page and any message can be looked
// at.
struct RenderChanges {
  std::vector<std::string> texts;
  std::vector<std::string> shown;
  std::vector<std::string> hidden;
};

bool ApplyChanges(toolkit::CWindow& window, const RenderChanges& changes) {
  auto find = [&window](const std::string& name) {
    toolkit::CControl* control = window.Find(name);
    if (!control) std::cerr << "No control named " << name << '\n';
    return control;
  };
  for (const std::string& change : changes.texts) {
    const std::size_t equals = change.find('=');
    toolkit::CControl* control = equals == std::string::npos ? nullptr : find(change.substr(0, equals));
    if (!control) return false;
    control->SetText(change.substr(equals + 1));
  }
  for (const std::string& name : changes.hidden) {
    toolkit::CControl* control = find(name);
    if (!control) return false;
    control->SetVisible(false);
  }
  for (const std::string& name : changes.shown) {
    toolkit::CControl* control = find(name);
    if (!control) return false;
    control->SetVisible(true);
  }
  return true;
}

int RenderSkin(int& argc, char** argv, const std::string& skin, const std::string& out,
               const RenderChanges& changes) {
  // Rendering needs no screen: the offscreen platform draws the same pixels.
  platform::SetEnvironmentDefault("QT_QPA_PLATFORM", "offscreen");
  toolkit::CApplication application(argc, argv);
  toolkit::CWindow window;
  if (!window.Create(skin, "")) {
    std::cerr << window.LastError() << '\n';
    return 1;
  }
  if (!ApplyChanges(window, changes)) return 2;
  // Drawn as shown: laid out at its size, and grown for a long message as a
  // message box grows when it is shown.
  window.Show();
  window.FitHeightToContent();
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
  RenderChanges changes;
  cli.add_option("--set", changes.texts, "with --render: NAME=TEXT puts a text into a control");
  cli.add_option("--show", changes.shown, "with --render: shows the control NAME");
  cli.add_option("--hide", changes.hidden, "with --render: hides the control NAME");
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
    return RenderSkin(argc, argv, renderSkin, renderOut, changes);
  }
  return RunDesktop(argc, argv);
}
