#include "ui/gbk_text.h"

#include "platform/gbk.h"

#include <QList>

#include <optional>

namespace ui {
namespace {

// ASCII only: the error text is itself read as GBK, and the text at fault cannot be written in it.
constexpr const char* kEncodeErrorFormat = "A text holds a character GBK cannot write (U+%1).";
constexpr const char* kConverterMissingText =
    "The system has no converter for the GBK code page (936); texts from the server cannot be read.";
constexpr int kHexBase = 16;
constexpr int kCodePointDigits = 4;

// The first character GBK cannot write, for the message; the whole text failed, so one of them does.
char32_t FirstUnwritable(const QString& text) {
  for (const char32_t code : text.toUcs4()) {
    if (!platform::EncodeGbk(QString::fromUcs4(&code, 1).toStdU16String())) return code;
  }
  return QChar::ReplacementCharacter;
}

}  // namespace

GbkEncodeError::GbkEncodeError(const QString& text)
    : std::runtime_error(
          QString::fromLatin1(kEncodeErrorFormat)
              .arg(QString::number(static_cast<uint>(FirstUnwritable(text)), kHexBase)
                       .toUpper()
                       .rightJustified(kCodePointDigits, QLatin1Char('0')))
              .toStdString()) {}

GbkConverterMissing::GbkConverterMissing() : std::runtime_error(kConverterMissingText) {}

QString DecodeGbk(std::string_view bytes) { return QString::fromStdU16String(platform::DecodeGbk(bytes)); }

std::string EncodeGbk(const QString& text) {
  std::optional<std::string> bytes = platform::EncodeGbk(text.toStdU16String());
  if (!bytes) throw GbkEncodeError(text);
  return std::move(*bytes);
}

}  // namespace ui
