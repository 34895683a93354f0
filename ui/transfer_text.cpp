#include "ui/transfer_text.h"

#include <QLabel>
#include <QWidget>

#include <utility>

namespace ui {

TransferText::TransferText(QLabel* label, QWidget* bar, std::function<std::int64_t()> nowMs)
    : m_label(label), m_bar(bar), m_nowMs(std::move(nowMs)) {}

void TransferText::Start(std::int64_t received, std::int64_t total) {
  m_meter.Start(m_nowMs(), received, total);
  Update(received);
}

void TransferText::Update(std::int64_t received) {
  if (const auto text = m_meter.Update(m_nowMs(), received)) Show(QString::fromStdString(*text));
}

void TransferText::Show(const QString& text) {
  m_label->setText(text);
  m_bar->setAccessibleDescription(text);
}

QString TransferText::Text() const { return m_label->text(); }

}  // namespace ui
