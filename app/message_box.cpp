#include "app/message_box.h"

#include <cstdlib>

#include <QApplication>
#include <QMessageBox>
#include <iostream>

#include "platform/code_pages.h"

namespace quillon {

namespace {

MessageBoxFunction& InstalledFunction() {
  static MessageBoxFunction function;
  return function;
}

// Without a person to answer: Yes/No boxes say No, so nothing is changed.
BoxAnswer HeadlessAnswer(BoxButtons buttons) {
  switch (buttons) {
    case BoxButtons::kOk:
      return BoxAnswer::kOk;
    case BoxButtons::kCancel:
      return BoxAnswer::kCancel;
    case BoxButtons::kYesNo:
      return BoxAnswer::kNo;
  }
  return BoxAnswer::kCancel;
}

BoxAnswer ShowOnStandardError(const std::string& text, BoxButtons buttons) {
  std::cerr << Cp1252ToUtf8(text) << std::endl;
  return HeadlessAnswer(buttons);
}

BoxAnswer ShowQtBox(const std::string& text, BoxIcon icon, BoxButtons buttons) {
  QMessageBox box;
  box.setWindowTitle(QApplication::applicationName());
  box.setText(QString::fromStdString(Cp1252ToUtf8(text)));
  switch (icon) {
    case BoxIcon::kInformation:
      box.setIcon(QMessageBox::Information);
      break;
    case BoxIcon::kQuestion:
      box.setIcon(QMessageBox::Question);
      break;
    case BoxIcon::kError:
      box.setIcon(QMessageBox::Critical);
      break;
  }
  switch (buttons) {
    case BoxButtons::kOk:
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case BoxButtons::kCancel:
      box.setStandardButtons(QMessageBox::Cancel);
      break;
    case BoxButtons::kYesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Ok:
      return BoxAnswer::kOk;
    case QMessageBox::Yes:
      return BoxAnswer::kYes;
    case QMessageBox::No:
      return BoxAnswer::kNo;
    default:
      return HeadlessAnswer(buttons);
  }
}

}  // namespace

namespace {

bool EnvironmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

void UseOffscreenPlatformWithoutDisplay() {
  if (EnvironmentSet("QT_QPA_PLATFORM") || EnvironmentSet("DISPLAY") ||
      EnvironmentSet("WAYLAND_DISPLAY")) {
    return;
  }
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

bool DisplayAvailable() {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    return false;
  }
  const QString platform = QGuiApplication::platformName();
  return platform != "offscreen" && platform != "minimal";
}

BoxAnswer ShowMessageBox(const std::string& text, BoxIcon icon,
                         BoxButtons buttons) {
  if (InstalledFunction()) return InstalledFunction()(text, icon, buttons);
  if (!DisplayAvailable()) return ShowOnStandardError(text, buttons);
  return ShowQtBox(text, icon, buttons);
}

void SetMessageBoxFunction(MessageBoxFunction function) {
  InstalledFunction() = std::move(function);
}

}  // namespace quillon
