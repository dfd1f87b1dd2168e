#include "ui/qt/qt_runtime.h"

#include <QApplication>

namespace tsn {

struct QtRuntime::Impl {
  Impl(int& argc, char** argv) : app(argc, argv) {}
  QApplication app;
};

QtRuntime::QtRuntime(int& argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  impl_ = std::make_unique<Impl>(argc, argv);
}

QtRuntime::~QtRuntime() = default;

}  // namespace tsn
