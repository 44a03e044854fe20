#include "app/animate.h"

#include <QPainter>

namespace quillon {

namespace {
constexpr int kFrameMilliseconds = 80;
constexpr int kSteps = 12;
}  // namespace

TAnimate::TAnimate(QWidget* parent) : QWidget(parent) {
  frame_timer_.setInterval(kFrameMilliseconds);
  connect(&frame_timer_, &QTimer::timeout, this, [this] {
    step_ = (step_ + 1) % kSteps;
    update();
  });
}

void TAnimate::SetActive(bool active) {
  if (active == active_) return;
  active_ = active;
  if (active_) {
    frame_timer_.start();
  } else {
    frame_timer_.stop();
  }
  update();
}

void TAnimate::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const int side = std::min(width(), height()) - 6;
  const QRectF box((width() - side) / 2.0, (height() - side) / 2.0, side, side);
  painter.setPen(QPen(palette().color(QPalette::Mid), 3));
  painter.drawEllipse(box);
  if (!active_) return;
  painter.setPen(QPen(palette().color(QPalette::Highlight), 3));
  // Qt angles are in sixteenths of a degree.
  painter.drawArc(box, -step_ * (360 / kSteps) * 16, 90 * 16);
}

}  // namespace quillon
