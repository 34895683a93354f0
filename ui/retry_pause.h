#pragma once

class QEventLoop;

namespace ui {

// The pause before another try of a download: the window stays responsive while it waits, like a request's own wait,
// and End() (a cancel, the paper deleted) ends it at once.
class RetryPause {
 public:
  // False when the wait was ended early.
  bool Wait(int ms);
  void End();

 private:
  QEventLoop* m_loop = nullptr;
  bool m_ended = false;
};

}  // namespace ui
