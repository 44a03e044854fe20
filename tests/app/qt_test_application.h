// The application object of the Qt test programs: Qt's offscreen platform
// (no display needed) and the Qt pump installed as the process-wide pump.
#pragma once

#include <QApplication>
#include <cstdlib>

#include "platform/message_pump.h"
#include "platform/qt_pump.h"

namespace quillon::test {

class QtTestApplication {
 public:
  QtTestApplication() : application_(Prepare(argc_), argv_) {
    InstallPump(&pump_);
  }
  ~QtTestApplication() { InstallPump(nullptr); }

  QtPump& Pump() { return pump_; }

 private:
  static int& Prepare(int& argc) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return argc;
  }

  int argc_ = 1;
  char name_[16] = "quillon-test";
  char* argv_[2] = {name_, nullptr};
  QApplication application_;
  QtPump pump_;
};

// Created on first use, lives until the program ends.
inline QtTestApplication& TestApplication() {
  static QtTestApplication application;
  return application;
}

}  // namespace quillon::test
