// Keeps a window's placement between runs in an ini file, under one
// section: "Flags" and "ShowCmd" (integers), "MinMaxPos" and "NormPos"
// (four integers "%d,%d,%d,%d") and "Visible".
#pragma once

#include <string>

class QWidget;

namespace quillon {

struct WindowPlacement {
  int flags = 0;
  int show_command = 1;  // 1 normal, 2 minimised, 3 maximised
  int min_x = -1, min_y = -1, max_x = -1, max_y = -1;
  int left = 0, top = 0, right = 0, bottom = 0;  // the normal position
  bool visible = false;
};

class TFormPlacement {
 public:
  TFormPlacement(QWidget* form, std::string ini_path, std::string section);

  // Moves and sizes the window to the stored normal position; a missing or
  // malformed "NormPos" leaves it where it is. True when it was moved.
  bool RestorePlacement();
  void SavePlacement();

  static WindowPlacement PlacementOf(const QWidget& form);

 private:
  QWidget* form_;
  std::string ini_path_;
  std::string section_;
};

// "a,b,c,d" -> four integers; false unless exactly four integers.
bool ParseFourIntegers(const std::string& text, int values[4]);

}  // namespace quillon
