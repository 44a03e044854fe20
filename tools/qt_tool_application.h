// The Qt side of a tool command: a QApplication that runs without a display
// (Qt's offscreen platform) and the Qt pump as the process's pump, so
// windows, printing and D-Bus behave as in the program. Only for *_qt.cpp
// files.
#pragma once

#include <QApplication>
#include <QtGlobal>

#include "app/message_box.h"
#include "platform/message_pump.h"
#include "platform/qt_pump.h"

namespace quillon::tool {

class QtToolApplication {
 public:
  QtToolApplication() : application_(ChoosePlatform(), argv_) {
    InstallPump(&pump_);
  }
  ~QtToolApplication() {
    InstallPump(nullptr);
    qInstallMessageHandler(nullptr);
  }
  QtToolApplication(const QtToolApplication&) = delete;
  QtToolApplication& operator=(const QtToolApplication&) = delete;

 private:
  // Qt's note that a root shell has no XDG_RUNTIME_DIR says nothing about
  // the command and would land in the middle of its output; everything
  // else Qt says goes to standard error as usual.
  static void QuietMessageHandler(QtMsgType type,
                                  const QMessageLogContext& context,
                                  const QString& message) {
    if (message.startsWith(QStringLiteral("QStandardPaths:"))) return;
    qInstallMessageHandler(nullptr);
    qt_message_output(type, context, message);
    qInstallMessageHandler(QuietMessageHandler);
  }
  // Returns the argument count QApplication keeps a reference to.
  static int& ChoosePlatform() {
    qInstallMessageHandler(QuietMessageHandler);
    UseOffscreenPlatformWithoutDisplay();
    static int argc = 1;
    return argc;
  }

  inline static char name_[] = "quillon-tool";
  inline static char* argv_[] = {name_, nullptr};
  QApplication application_;
  QtPump pump_;
};

}  // namespace quillon::tool
