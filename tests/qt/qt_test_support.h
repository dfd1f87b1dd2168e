#pragma once
// Shared pieces of the window-layer suites: the program wired to a real
// QtWindow, and a dialog procedure that records what reaches it.
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <functional>
#include <vector>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "ui/qt/qt_window.h"

namespace tsn::qttest {

// The program's dialog on a real window, initialised as the program starts
// it, but not yet running its modal loop. `seen` holds every message that
// reached the dialog procedure since the last Clear.
struct QtApp {
  AppState app;
  QtWindow window;
  std::vector<Message> seen;
  bool forward = true;  // hand each message on to the program's dialog procedure

  QtApp() {
    app.ui = &window;
    window.SetDialogProc([this](const Message& m) {
      seen.push_back(m);
      return forward ? MainDialogProc(&app, m) : ProcResult{};
    });
    MainDialogProc(&app, Message{MessageKind::InitDialog});
  }
  void Clear() { seen.clear(); }
  bool Show() {
    window.show();
    return QTest::qWaitForWindowExposed(&window);
  }
  // Messages of one kind (and, for notifications, one control and code).
  std::vector<Message> Of(MessageKind kind) const {
    std::vector<Message> out;
    for (const Message& m : seen)
      if (m.kind == kind) out.push_back(m);
    return out;
  }
  std::vector<Message> Notifications(ControlId id, NotifyCode code) const {
    std::vector<Message> out;
    for (const Message& m : seen)
      if (m.kind == MessageKind::Notify && m.id == id && m.code == code) out.push_back(m);
    return out;
  }
};

// Answers the next modal window (a dialog's exec) once it shows, from the
// event loop that exec runs; it stops watching when it goes out of scope.
class WhenModal {
 public:
  explicit WhenModal(std::function<void(QWidget*)> answer) : answer_(std::move(answer)) {
    QObject::connect(&poll_, &QTimer::timeout, &poll_, [this] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        poll_.stop();
        answer_(modal);
      }
    });
    poll_.start(20);
  }

 private:
  std::function<void(QWidget*)> answer_;
  QTimer poll_;
};

}  // namespace tsn::qttest

// Runs offscreen unless told otherwise, so the suites need no display.
#define TSN_QT_TEST_MAIN(TestClass)                                         \
  int main(int argc, char** argv) {                                         \
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                     \
      qputenv("QT_QPA_PLATFORM", "offscreen");                              \
    QApplication qtApp(argc, argv);                                         \
    QApplication::setQuitOnLastWindowClosed(false);                         \
    TestClass suite;                                                        \
    return QTest::qExec(&suite, argc, argv);                                \
  }
