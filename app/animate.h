// The status window's activity animation: a small spinning arc drawn while
// Active. FileName keeps the name of the animation file the window names
// ("working.avi"); the arc is drawn without it.
#pragma once

#include <QTimer>
#include <QWidget>
#include <string>

namespace quillon {

class TAnimate : public QWidget {
  Q_OBJECT

 public:
  explicit TAnimate(QWidget* parent = nullptr);

  bool Active() const { return active_; }
  void SetActive(bool active);
  const std::string& FileName() const { return file_name_; }
  void SetFileName(const std::string& file_name) { file_name_ = file_name; }

  QSize sizeHint() const override { return {32, 32}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool active_ = false;
  int step_ = 0;
  std::string file_name_;
  QTimer frame_timer_;
};

}  // namespace quillon
