#include "ui/hide_animation.h"

#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(HideAnimation, CollapsesTowardTheCentreAndLeavesTheWindowHidden) {
  QWidget window;
  window.setGeometry(100, 100, 400, 200);
  window.show();
  const QPoint centre = window.geometry().center();
  ui::AnimateHide(&window, 60);
  const QRect smallest = window.geometry();
  EXPECT_FALSE(window.isVisible());
  EXPECT_LE(smallest.width(), 400 / 2);
  EXPECT_LE(std::abs(smallest.center().x() - centre.x()), 2);
  EXPECT_LE(std::abs(smallest.center().y() - centre.y()), 2);
}

TEST(HideAnimation, ZeroDurationOrHiddenWindowHidesAtOnce) {
  QWidget window;
  window.setGeometry(0, 0, 300, 100);
  window.show();
  ui::AnimateHide(&window, 0);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.size(), QSize(300, 100));
  ui::AnimateHide(&window, 50);
  EXPECT_FALSE(window.isVisible());
  ui::AnimateHide(nullptr, 50);
}

}  // namespace
