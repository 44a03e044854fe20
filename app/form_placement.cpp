#include "app/form_placement.h"

#include <QWidget>
#include <cstdio>
#include <sstream>

#include "platform/ini_file.h"
#include "platform/text.h"

namespace quillon {

namespace {

std::string FourIntegers(int a, int b, int c, int d) {
  char text[64];
  std::snprintf(text, sizeof text, "%d,%d,%d,%d", a, b, c, d);
  return text;
}

}  // namespace

bool ParseFourIntegers(const std::string& text, int values[4]) {
  std::stringstream parts(text);
  std::string part;
  int count = 0;
  while (std::getline(parts, part, ',')) {
    if (count == 4 || !TryStrToInt(Trim(part), values[count])) return false;
    ++count;
  }
  return count == 4;
}

TFormPlacement::TFormPlacement(QWidget* form, std::string ini_path,
                               std::string section)
    : form_(form),
      ini_path_(std::move(ini_path)),
      section_(std::move(section)) {}

WindowPlacement TFormPlacement::PlacementOf(const QWidget& form) {
  WindowPlacement placement;
  if (form.isMinimized()) {
    placement.show_command = 2;
  } else if (form.isMaximized()) {
    placement.show_command = 3;
  }
  const QRect normal = form.isMinimized() || form.isMaximized()
                           ? form.normalGeometry()
                           : QRect(form.pos(), form.size());
  placement.left = normal.left();
  placement.top = normal.top();
  placement.right = normal.left() + normal.width();
  placement.bottom = normal.top() + normal.height();
  placement.visible = form.isVisible();
  return placement;
}

void TFormPlacement::SavePlacement() {
  const WindowPlacement placement = PlacementOf(*form_);
  IniFile ini(ini_path_);
  ini.WriteInteger(section_, "Flags", placement.flags);
  ini.WriteInteger(section_, "ShowCmd", placement.show_command);
  ini.WriteString(section_, "MinMaxPos",
                  FourIntegers(placement.min_x, placement.min_y,
                               placement.max_x, placement.max_y));
  ini.WriteString(section_, "NormPos",
                  FourIntegers(placement.left, placement.top, placement.right,
                               placement.bottom));
  ini.WriteBool(section_, "Visible", placement.visible);
}

bool TFormPlacement::RestorePlacement() {
  const IniFile ini(ini_path_);
  int rect[4];
  if (!ParseFourIntegers(ini.ReadString(section_, "NormPos", ""), rect)) {
    return false;
  }
  const int width = rect[2] - rect[0];
  const int height = rect[3] - rect[1];
  if (width <= 0 || height <= 0) return false;
  form_->move(rect[0], rect[1]);
  form_->resize(width, height);
  return true;
}

}  // namespace quillon
