#include "updater/update_description.h"

#include "net/http_text.h"
#include "vextal_config.h"

#include <sodium.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <map>
#include <utility>

namespace {

constexpr const char* kVersionKey = "version";
constexpr const char* kInstallerKey = "installer";
constexpr const char* kSizeKey = "size";
constexpr const char* kSha256Key = "sha256";
constexpr const char* kExpiresKey = "expires";

// "YYYY-MM-DDTHH:MM:SSZ": where each field starts, and the separators between them.
constexpr std::size_t kUtcTimeLength = 20;
constexpr const char* kUtcTimePicture = "0000-00-00T00:00:00Z";
constexpr std::size_t kYearAt = 0;
constexpr std::size_t kYearDigits = 4;
constexpr std::size_t kMonthAt = 5;
constexpr std::size_t kDayAt = 8;
constexpr std::size_t kHourAt = 11;
constexpr std::size_t kMinuteAt = 14;
constexpr std::size_t kSecondAt = 17;
constexpr std::size_t kFieldDigits = 2;  // every field but the year
constexpr int kHoursPerDay = 24;
constexpr int kMinutesPerHour = 60;
constexpr int kSecondsPerMinute = 60;
constexpr std::int64_t kSecondsPerHour = kMinutesPerHour * kSecondsPerMinute;
constexpr std::int64_t kSecondsPerDay = kHoursPerDay * kSecondsPerHour;

constexpr std::size_t kLongestKey = 32;
constexpr std::size_t kLongestVersionPart = 9;  // fits a 32-bit part
constexpr std::size_t kLongestInstallerPath = 1024;
constexpr std::size_t kSha256Bytes = 32;
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7f;

bool IsControl(unsigned char byte) { return byte < kFirstPrintable || byte == kDelete; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLowerHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f'); }
bool IsAsciiLetterOrDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsKey(std::string_view key) {
  if (key.empty() || key.size() > kLongestKey) return false;
  for (char c : key) {
    if (!IsDigit(c) && !(c >= 'a' && c <= 'z') && c != '-' && c != '_') return false;
  }
  return true;
}

// Every key's value as it stands; nothing when a line breaks the rules or a key comes twice.
std::optional<std::map<std::string_view, std::string_view>> ReadLines(std::string_view text) {
  if (text.empty() || text.back() != '\n') return std::nullopt;
  std::map<std::string_view, std::string_view> values;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    for (char c : line) {
      if (IsControl(static_cast<unsigned char>(c))) return std::nullopt;
    }
    if (line.empty() || line.front() == '#') continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view key = line.substr(0, equals);
    if (!IsKey(key) || !values.emplace(key, line.substr(equals + 1)).second) return std::nullopt;
  }
  return values;
}

// Decimal without sign or leading zeros, in 1..kLargestInstallerBytes.
std::optional<std::uint64_t> ReadSize(std::string_view text) {
  if (text.empty() || (text.size() > 1 && text.front() == '0')) return std::nullopt;
  std::uint64_t size = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (size == 0 || size > updater::kLargestInstallerBytes) return std::nullopt;
  return size;
}

// The decimal number of the digits at text[at .. at + count), which the caller has checked are digits.
int DigitsAt(std::string_view text, std::size_t at, std::size_t count) {
  int number = 0;
  std::from_chars(text.data() + at, text.data() + at + count, number);
  return number;
}

// A number that is not negative in at least `width` digits, zeros in front.
std::string Padded(std::int64_t number, std::size_t width) {
  std::string digits = std::to_string(number);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

// An empty text has no data pointer to hand over, and libsodium wants one.
const unsigned char* SodiumBytes(std::string_view text) {
  static const unsigned char kNoBytes = 0;
  return text.empty() ? &kNoBytes : reinterpret_cast<const unsigned char*>(text.data());
}

bool IsSha256Hex(std::string_view text) {
  if (text.size() != 2 * kSha256Bytes) return false;
  return std::all_of(text.begin(), text.end(), IsLowerHexDigit);
}

// The URL the installer is fetched from, when the client's own URL splitting puts it on the origin's server with the
// path as its whole target.
std::optional<std::string> InstallerUrl(std::string_view originText, std::string_view path) {
  std::string origin(originText);
  if (!origin.empty() && origin.back() == '/') origin.pop_back();
  std::string url = origin + std::string(path);
  const net::UrlParts server = net::SplitUrl(origin);
  const net::UrlParts installer = net::SplitUrl(url);
  if (server.host.empty() || installer.scheme != server.scheme || installer.user != server.user ||
      installer.password != server.password || installer.host != server.host ||
      installer.portText != server.portText || installer.target != path) {
    return std::nullopt;
  }
  return url;
}

}  // namespace

std::string updater::RefusalText(Refusal refusal) {
  switch (refusal) {
    case Refusal::kNoPublisherKey:
      return std::string("这个版本的程序不能自动升级，没有安装任何东西。请到 ") + vextal::kPublisherUrl +
             " 下载新版本，手动安装。";
    case Refusal::kCryptoUnavailable:
      return "无法检查升级信息的签名，没有安装任何东西。";
    case Refusal::kBadSignature:
      return "升级信息的签名不对，没有安装任何东西。";
    case Refusal::kMalformed:
      return "升级信息的格式不对，没有安装任何东西。";
    case Refusal::kExpired:
      return "升级信息已经过期，没有安装任何东西。电脑的日期不对也会这样，请检查电脑的日期。";
    case Refusal::kRolledBack:
      return "服务器上的版本比这台电脑以前验证过的版本旧，没有安装任何东西。";
    case Refusal::kNotNewer:
      return "服务器上的版本不比现在的新，没有安装任何东西。";
    case Refusal::kInstallerElsewhere:
      return "升级信息指向升级服务器以外的安装程序，没有安装任何东西。";
    case Refusal::kBadSize:
      return "升级信息里的安装程序大小不对，没有安装任何东西。";
    case Refusal::kBadSha256:
      return "升级信息里的安装程序校验值不对，没有安装任何东西。";
  }
  return "升级信息不对，没有安装任何东西。";
}

std::variant<updater::VerifiedUpdate, updater::Refusal> updater::VerifyUpdate(const UpdateCheck& check) {
  const std::optional<std::string> key = BytesOfHex(check.publicKeyHex, kPublicKeyBytes);
  if (!key) return Refusal::kNoPublisherKey;
  if (sodium_init() < 0) return Refusal::kCryptoUnavailable;
  const std::optional<std::string> signature = BytesOfHex(net::TrimBlanks(std::string(check.signature)),
                                                          kSignatureBytes);
  if (!signature) return Refusal::kBadSignature;
  if (crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature->data()),
                                  SodiumBytes(check.description),
                                  check.description.size(),
                                  reinterpret_cast<const unsigned char*>(key->data())) != 0) {
    return Refusal::kBadSignature;
  }

  if (check.description.size() > kLargestDescriptionBytes) return Refusal::kMalformed;
  const auto values = ReadLines(check.description);
  if (!values) return Refusal::kMalformed;
  const auto version = values->find(kVersionKey);
  const auto installer = values->find(kInstallerKey);
  const auto size = values->find(kSizeKey);
  const auto sha256 = values->find(kSha256Key);
  const auto expires = values->find(kExpiresKey);
  if (version == values->end() || installer == values->end() || size == values->end() || sha256 == values->end() ||
      expires == values->end()) {
    return Refusal::kMalformed;
  }
  if (!ParseVersion(version->second)) return Refusal::kMalformed;
  const std::optional<std::int64_t> expiry = ParseUtcTime(expires->second);
  if (!expiry) return Refusal::kMalformed;
  if (*expiry <= check.nowUtcSeconds) return Refusal::kExpired;
  if (!check.highestVerified.empty()) {
    const std::optional<std::strong_ordering> since = CompareVersions(version->second, check.highestVerified);
    if (!since || *since == std::strong_ordering::less) return Refusal::kRolledBack;
  }
  // A running version that is not one (a build fault) has nothing above it: better no update than a guess.
  const std::optional<std::strong_ordering> order = CompareVersions(version->second, check.runningVersion);
  if (!order || *order != std::strong_ordering::greater) return Refusal::kNotNewer;
  if (!IsServerPath(installer->second)) return Refusal::kInstallerElsewhere;
  const std::optional<std::uint64_t> installerSize = ReadSize(size->second);
  if (!installerSize) return Refusal::kBadSize;
  if (!IsSha256Hex(sha256->second)) return Refusal::kBadSha256;
  std::optional<std::string> url = InstallerUrl(check.origin, installer->second);
  if (!url) return Refusal::kInstallerElsewhere;

  VerifiedUpdate verified;
  verified.description.version = version->second;
  verified.description.installerPath = installer->second;
  verified.description.size = *installerSize;
  verified.description.sha256 = sha256->second;
  verified.description.expiresUtcSeconds = *expiry;
  verified.installerUrl = std::move(*url);
  return verified;
}

std::string updater::DescriptionText(const UpdateDescription& description) {
  std::string text;
  for (const auto& [key, value] : {std::pair<const char*, std::string>{kVersionKey, description.version},
                                   {kInstallerKey, description.installerPath},
                                   {kSizeKey, std::to_string(description.size)},
                                   {kSha256Key, description.sha256},
                                   {kExpiresKey, UtcTimeText(description.expiresUtcSeconds)}}) {
    text.append(key).append(1, '=').append(value).append(1, '\n');
  }
  return text;
}

std::string updater::SignatureText(std::string_view signatureBytes) { return HexOf(signatureBytes) + "\n"; }

std::optional<std::string> updater::SecretKeyOfText(std::string_view text) {
  if (sodium_init() < 0) return std::nullopt;
  std::string whole(text);
  std::string digits = net::TrimBlanks(whole);
  std::optional<std::string> secret = BytesOfHex(digits, kSecretKeyBytes);
  sodium_memzero(whole.data(), whole.size());
  sodium_memzero(digits.data(), digits.size());
  if (!secret) return std::nullopt;
  unsigned char seed[crypto_sign_SEEDBYTES];
  unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
  unsigned char derived[crypto_sign_SECRETKEYBYTES];
  const auto* secretBytes = reinterpret_cast<const unsigned char*>(secret->data());
  crypto_sign_ed25519_sk_to_seed(seed, secretBytes);
  crypto_sign_seed_keypair(publicKey, derived, seed);
  const bool matches = sodium_memcmp(derived, secretBytes, kSecretKeyBytes) == 0;
  sodium_memzero(seed, sizeof seed);
  sodium_memzero(derived, sizeof derived);
  if (!matches) {
    sodium_memzero(secret->data(), secret->size());
    return std::nullopt;
  }
  return secret;
}

std::optional<std::string> updater::SignDescription(std::string_view description, std::string_view secretKey) {
  static_assert(kSecretKeyBytes == crypto_sign_SECRETKEYBYTES && kSignatureBytes == crypto_sign_BYTES);
  if (secretKey.size() != kSecretKeyBytes || sodium_init() < 0) return std::nullopt;
  unsigned char signature[crypto_sign_BYTES];
  crypto_sign_detached(signature, nullptr, SodiumBytes(description), description.size(),
                       reinterpret_cast<const unsigned char*>(secretKey.data()));
  return SignatureText(std::string_view(reinterpret_cast<const char*>(signature), sizeof signature));
}

std::optional<std::int64_t> updater::ParseUtcTime(std::string_view text) {
  if (text.size() != kUtcTimeLength) return std::nullopt;
  for (std::size_t i = 0; i < kUtcTimeLength; ++i) {
    const bool digitHere = kUtcTimePicture[i] == '0';
    if (digitHere ? !IsDigit(text[i]) : text[i] != kUtcTimePicture[i]) return std::nullopt;
  }
  const auto month = static_cast<unsigned>(DigitsAt(text, kMonthAt, kFieldDigits));
  const auto day = static_cast<unsigned>(DigitsAt(text, kDayAt, kFieldDigits));
  const std::chrono::year_month_day date{std::chrono::year(DigitsAt(text, kYearAt, kYearDigits)),
                                         std::chrono::month(month), std::chrono::day(day)};
  const int hour = DigitsAt(text, kHourAt, kFieldDigits);
  const int minute = DigitsAt(text, kMinuteAt, kFieldDigits);
  const int second = DigitsAt(text, kSecondAt, kFieldDigits);
  // No second 60: seconds since the epoch count no leap seconds to give it.
  if (!date.ok() || hour >= kHoursPerDay || minute >= kMinutesPerHour || second >= kSecondsPerMinute) {
    return std::nullopt;
  }
  const std::int64_t days = std::chrono::sys_days(date).time_since_epoch().count();
  return days * kSecondsPerDay + hour * kSecondsPerHour + minute * kSecondsPerMinute + second;
}

std::string updater::UtcTimeText(std::int64_t seconds) {
  const std::int64_t moment = std::clamp(seconds, kEarliestUtcSeconds, kLatestUtcSeconds);
  const std::chrono::sys_seconds at{std::chrono::seconds(moment)};
  const std::chrono::sys_days day = std::chrono::floor<std::chrono::days>(at);
  const std::chrono::year_month_day date(day);
  const std::int64_t intoDay = (at - day).count();
  const std::int64_t hour = intoDay / kSecondsPerHour;
  const std::int64_t minute = intoDay % kSecondsPerHour / kSecondsPerMinute;
  const std::int64_t second = intoDay % kSecondsPerMinute;
  return Padded(static_cast<int>(date.year()), kYearDigits) + '-' +
         Padded(static_cast<unsigned>(date.month()), kFieldDigits) + '-' +
         Padded(static_cast<unsigned>(date.day()), kFieldDigits) + 'T' + Padded(hour, kFieldDigits) + ':' +
         Padded(minute, kFieldDigits) + ':' + Padded(second, kFieldDigits) + 'Z';
}

std::optional<std::vector<std::uint32_t>> updater::ParseVersion(std::string_view text) {
  std::vector<std::uint32_t> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = text.find('.', start);
    const std::string_view part = text.substr(start, dot == std::string_view::npos ? text.size() - start : dot - start);
    if (part.empty() || part.size() > kLongestVersionPart || (part.size() > 1 && part.front() == '0') ||
        !std::all_of(part.begin(), part.end(), IsDigit)) {
      return std::nullopt;
    }
    std::uint32_t number = 0;
    std::from_chars(part.data(), part.data() + part.size(), number);
    parts.push_back(number);
    if (dot == std::string_view::npos) return parts;
    start = dot + 1;
  }
}

std::optional<std::strong_ordering> updater::CompareVersions(std::string_view a, std::string_view b) {
  const auto left = ParseVersion(a);
  const auto right = ParseVersion(b);
  if (!left || !right) return std::nullopt;
  const std::size_t count = std::max(left->size(), right->size());
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t x = i < left->size() ? (*left)[i] : 0;
    const std::uint32_t y = i < right->size() ? (*right)[i] : 0;
    if (x != y) return x <=> y;
  }
  return std::strong_ordering::equal;
}

bool updater::IsServerPath(std::string_view path) {
  if (path.size() < 2 || path.size() > kLongestInstallerPath || path.front() != '/' || path.back() == '/') {
    return false;
  }
  std::size_t start = 1;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view segment = path.substr(start, end - start);
    if (segment.empty()) return false;
    bool dotsOnly = true;
    for (std::size_t i = 0; i < segment.size(); ++i) {
      const char c = segment[i];
      if (c == '.') continue;
      dotsOnly = false;
      if (IsAsciiLetterOrDigit(c) || c == '-' || c == '_' || c == '~') continue;
      if (c != '%') return false;
      const std::optional<std::string> escaped = BytesOfHex(segment.substr(i + 1, 2), 1);
      if (!escaped) return false;
      const auto byte = static_cast<unsigned char>(escaped->front());
      if (byte == '.' || byte == '/' || byte == '\\' || byte == '%' || IsControl(byte)) return false;
      i += 2;
    }
    if (dotsOnly) return false;
    start = end + 1;
  }
  return true;
}

std::optional<std::string> updater::BytesOfHex(std::string_view hex, std::size_t bytes) {
  if (hex.size() != 2 * bytes) return std::nullopt;
  std::string out(bytes, '\0');
  std::size_t written = 0;
  const char* end = nullptr;
  if (sodium_hex2bin(reinterpret_cast<unsigned char*>(out.data()), out.size(), hex.data(), hex.size(), nullptr,
                     &written, &end) != 0 ||
      written != bytes || end != hex.data() + hex.size()) {
    return std::nullopt;
  }
  return out;
}

std::string updater::HexOf(std::string_view bytes) {
  std::string hex(2 * bytes.size() + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  hex.pop_back();
  return hex;
}
