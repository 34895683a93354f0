#include "ui/locale_format.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace ui {
namespace {

bool IsAsciiLetter(QChar c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// Literal text goes out quoted whenever Qt could read any of it as a format letter or a quote.
void AppendLiteral(QString& out, const QString& literal) {
  if (literal.isEmpty()) {
    return;
  }
  bool needsQuotes = false;
  for (QChar c : literal) {
    if (IsAsciiLetter(c) || c == u'\'') {
      needsQuotes = true;
      break;
    }
  }
  if (!needsQuotes) {
    out += literal;
    return;
  }
  QString escaped = literal;
  escaped.replace(u'\'', QStringLiteral("''"));
  out += u'\'' + escaped + u'\'';
}

// The Qt letters for a run of one Windows picture letter, or an empty string when Qt has no equivalent and the run is
// dropped. A letter Windows does not know is literal text; the caller handles that.
QString QtLettersForRun(QChar letter, qsizetype count) {
  switch (letter.unicode()) {
    case u'h':
    case u'H':
    case u'm':
    case u's':
      return QString(count >= 2 ? 2 : 1, letter);
    case u't':
      return QStringLiteral("AP");
    case u'd':
    case u'M':
      return QString(count >= 4 ? 4 : count, letter);
    case u'y':
      return count >= 3 ? QStringLiteral("yyyy") : QStringLiteral("yy");
    default:  // 'g', the era: Qt has none
      return {};
  }
}

bool IsPictureLetter(QChar c) {
  static const QString kLetters = QStringLiteral("hHmstdMyg");
  return kLetters.contains(c);
}

#ifdef _WIN32
QString UserLocaleString(LCTYPE type, const char* fallback) {
  // Windows caps these pictures at 80 characters.
  constexpr int kPictureCapacity = 128;
  wchar_t buffer[kPictureCapacity] = {};
  const int written = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buffer, kPictureCapacity);
  if (written <= 1) {
    return QString::fromLatin1(fallback);
  }
  return QString::fromWCharArray(buffer, written - 1);
}
#endif

}  // namespace

QString QtFormatFromWindowsPicture(const QString& picture) {
  QString out;
  QString literal;
  const qsizetype size = picture.size();
  qsizetype i = 0;
  while (i < size) {
    const QChar c = picture[i];
    if (c == u'\'') {
      // Quoted text runs to the next single quote; two quotes in a row stand for one quote character.
      ++i;
      while (i < size) {
        if (picture[i] == u'\'') {
          if (i + 1 < size && picture[i + 1] == u'\'') {
            literal += u'\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        literal += picture[i];
        ++i;
      }
      continue;
    }
    if (!IsPictureLetter(c)) {
      literal += c;
      ++i;
      continue;
    }
    qsizetype run = 1;
    while (i + run < size && picture[i + run] == c) {
      ++run;
    }
    AppendLiteral(out, literal);
    literal.clear();
    out += QtLettersForRun(c, run);
    i += run;
  }
  AppendLiteral(out, literal);
  return out;
}

QString LongTimeFormat() {
#ifdef _WIN32
  return QtFormatFromWindowsPicture(UserLocaleString(LOCALE_STIMEFORMAT, kDefaultLongTimeFormat));
#else
  return QString::fromLatin1(kDefaultLongTimeFormat);
#endif
}

QString ShortDateFormat() {
#ifdef _WIN32
  return QtFormatFromWindowsPicture(UserLocaleString(LOCALE_SSHORTDATE, kDefaultShortDateFormat));
#else
  return QString::fromLatin1(kDefaultShortDateFormat);
#endif
}

}  // namespace ui
