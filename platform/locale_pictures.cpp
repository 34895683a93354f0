#include "platform/locale_pictures.h"

#ifdef _WIN32
#include "platform/utf.h"

#include <windows.h>
#endif

namespace platform {
namespace {

constexpr std::u16string_view kPictureLetters = u"hHmstdMyg";
constexpr char16_t kQuote = u'\'';

bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

// Literal text goes out quoted whenever Qt could read any of it as a format letter or a quote.
void AppendLiteral(std::u16string& out, const std::u16string& literal) {
  if (literal.empty()) return;
  bool needsQuotes = false;
  for (char16_t c : literal) {
    if (IsAsciiLetter(c) || c == kQuote) {
      needsQuotes = true;
      break;
    }
  }
  if (!needsQuotes) {
    out += literal;
    return;
  }
  out.push_back(kQuote);
  for (char16_t c : literal) {
    if (c == kQuote) out.push_back(kQuote);
    out.push_back(c);
  }
  out.push_back(kQuote);
}

// The Qt letters for a run of one Windows picture letter, or nothing when Qt has no equivalent and the run is
// dropped.
std::u16string QtLettersForRun(char16_t letter, std::size_t count) {
  switch (letter) {
    case u'h':
    case u'H':
    case u'm':
    case u's':
      return std::u16string(count >= 2 ? 2 : 1, letter);
    case u't':
      return u"AP";
    case u'd':
    case u'M':
      return std::u16string(count >= 4 ? 4 : count, letter);
    case u'y':
      return count >= 3 ? u"yyyy" : u"yy";
    default:  // 'g', the era: Qt has none
      return {};
  }
}

std::u16string_view DefaultPicture(Picture which) {
  return which == Picture::kLongTime ? kDefaultLongTimePicture : kDefaultShortDatePicture;
}

#ifdef _WIN32
std::optional<std::u16string> WindowsPicture(const wchar_t* localeName, Picture which) {
  // Windows caps these pictures at 80 characters.
  constexpr int kPictureCapacity = 128;
  wchar_t buffer[kPictureCapacity] = {};
  const LCTYPE type = which == Picture::kLongTime ? LOCALE_STIMEFORMAT : LOCALE_SSHORTDATE;
  const int written = GetLocaleInfoEx(localeName, type, buffer, kPictureCapacity);
  if (written <= 1) return std::nullopt;
  return Utf16FromWide(std::wstring_view(buffer, static_cast<std::size_t>(written - 1)));
}
#endif

}  // namespace

std::u16string UserPicture(Picture which) {
#ifdef _WIN32
  if (std::optional<std::u16string> picture = WindowsPicture(LOCALE_NAME_USER_DEFAULT, which)) return *picture;
#endif
  return std::u16string(DefaultPicture(which));
}

std::optional<std::u16string> LocalePicture(std::u16string_view localeName, Picture which) {
#ifdef _WIN32
  return WindowsPicture(WideFromUtf16(localeName).c_str(), which);
#else
  (void)localeName;
  (void)which;
  return std::nullopt;
#endif
}

std::u16string QtFormatFromWindowsPicture(std::u16string_view picture) {
  std::u16string out;
  std::u16string literal;
  const std::size_t size = picture.size();
  std::size_t i = 0;
  while (i < size) {
    const char16_t c = picture[i];
    if (c == kQuote) {
      // Quoted text runs to the next single quote; two quotes in a row stand for one quote character.
      ++i;
      while (i < size) {
        if (picture[i] == kQuote) {
          if (i + 1 < size && picture[i + 1] == kQuote) {
            literal.push_back(kQuote);
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        literal.push_back(picture[i]);
        ++i;
      }
      continue;
    }
    if (kPictureLetters.find(c) == std::u16string_view::npos) {
      literal.push_back(c);
      ++i;
      continue;
    }
    std::size_t run = 1;
    while (i + run < size && picture[i + run] == c) ++run;
    AppendLiteral(out, literal);
    literal.clear();
    out += QtLettersForRun(c, run);
    i += run;
  }
  AppendLiteral(out, literal);
  return out;
}

}  // namespace platform
