#include "ui/hide_animation.h"

#include "platform/desktop.h"

#include <QEasingCurve>
#include <QEventLoop>
#include <QPropertyAnimation>
#include <QRect>
#include <QWidget>

namespace ui {
namespace {

// The smallest size a window may shrink to while collapsing; a zero size is refused by some window systems.
constexpr int kCollapsedSide = 1;

}  // namespace

void AnimateHide(QWidget* window, int durationMs) {
  if (!window) {
    return;
  }
  if (durationMs <= 0 || !window->isVisible()) {
    window->hide();
    return;
  }
  // Qt learns of the hide only from its own call; the animation has already taken the window off the screen.
  if (platform::AnimateHide(reinterpret_cast<platform::WindowHandle>(window->winId()), durationMs)) {
    window->hide();
    return;
  }
  const QRect start = window->geometry();
  const QRect end(start.center(), QSize(kCollapsedSide, kCollapsedSide));
  // Layouts would otherwise hold the window at their minimum size and the collapse would stop short.
  window->setMinimumSize(kCollapsedSide, kCollapsedSide);

  QPropertyAnimation animation(window, "geometry");
  animation.setDuration(durationMs);
  animation.setStartValue(start);
  animation.setEndValue(end);
  animation.setEasingCurve(QEasingCurve::Linear);
  QEventLoop loop;
  QObject::connect(&animation, &QPropertyAnimation::finished, &loop, &QEventLoop::quit);
  animation.start();
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  window->hide();
}

}  // namespace ui
