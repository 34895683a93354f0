#include "ui/retry_pause.h"

#include <QEventLoop>
#include <QTimer>

namespace ui {

bool RetryPause::Wait(int ms) {
  m_ended = false;
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  m_loop = &loop;
  loop.exec();
  m_loop = nullptr;
  return !m_ended;
}

void RetryPause::End() {
  m_ended = true;
  if (m_loop) m_loop->quit();
}

}  // namespace ui
