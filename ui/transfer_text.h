#pragma once

#include "download/transfer_meter.h"

#include <QString>

#include <cstdint>
#include <functional>

class QLabel;
class QWidget;

namespace ui {

// The text beside a download's bar (received and total size, speed, time left; the next try during a pause; what
// ended a download that gave up), which a screen reader reads as the bar's description too.
class TransferText {
 public:
  // `nowMs`: a clock in ms for the speed (the tests' fake one in the client's windows).
  TransferText(QLabel* label, QWidget* bar, std::function<std::int64_t()> nowMs);

  // A file's transfer starts with `received` bytes already there, of `total` (-1: unknown).
  void Start(std::int64_t received, std::int64_t total);
  void Update(std::int64_t received);
  void Show(const QString& text);
  QString Text() const;

 private:
  QLabel* m_label;
  QWidget* m_bar;
  std::function<std::int64_t()> m_nowMs;
  download::TransferMeter m_meter;
};

}  // namespace ui
