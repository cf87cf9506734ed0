#pragma once
// What the headless window tests share: one application object for the
// test process, and ways to act while a modal loop runs.

#include <functional>

#include <QApplication>
#include <QCoreApplication>
#include <QTimer>

#include "toolkit/application.h"

namespace guitest {

// The test process's application, made on first use (offscreen platform).
inline void EnsureApplication() {
  static int argc = 1;
  static char name[] = "velmora-test";
  static char* argv[] = {name, nullptr};
  static toolkit::CApplication* application = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return new toolkit::CApplication(argc, argv);
  }();
  (void)application;
}

// Runs action on the UI thread once the event loop (usually a modal loop
// the test is about to enter) picks it up.
inline void RunSoon(std::function<void()> action) { QTimer::singleShot(0, std::move(action)); }

// Runs action as soon as condition holds, checking each time the loop is
// idle; used to act on what a worker thread has shown.
inline void RunWhen(std::function<bool()> condition, std::function<void()> action) {
  auto* poll = new QTimer;
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, [poll, condition, action] {
    if (!condition()) return;
    poll->stop();
    poll->deleteLater();
    action();
  });
  poll->start();
}

}  // namespace guitest
