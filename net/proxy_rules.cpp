#include "net/proxy_rules.h"

#include "net/http_text.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace net {

namespace {

// curl's default when a proxy names no port; Windows uses the HTTP port instead.
constexpr int kEnvironmentDefaultProxyPort = 1080;
constexpr int kWindowsDefaultProxyPort = 80;
constexpr int kMaxPort = 65535;
constexpr std::size_t kMaxPortDigits = 5;
constexpr int kIpv4Bits = 32;
constexpr int kIpv6Bits = 128;
constexpr std::size_t kIpv6Bytes = 16;
constexpr std::size_t kIpv6GroupDigits = 4;
constexpr std::size_t kIpv4DecimalDigits = 3;
constexpr int kIpv4ByteMax = 255;
constexpr int kLoopbackFirstByte = 127;
constexpr std::string_view kSchemeSeparator = "://";
constexpr char kWindowsListSeparators[] = "; \t\r\n";

struct IpAddress {
  std::array<std::uint8_t, kIpv6Bytes> bytes{};  // an IPv4 address fills the first four
  int bitCount = 0;                              // 32 or 128: the family
};

bool SameNoCase(std::string_view a, std::string_view b) { return EqualsNoCase(std::string(a), std::string(b)); }

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<int> ParseDecimalUpTo(std::string_view text, std::size_t maxDigits) {
  if (!AllDigits(text) || text.size() > maxDigits) return std::nullopt;
  int value = 0;
  for (char c : text) value = value * 10 + (c - '0');
  return value;
}

std::optional<int> ParsePort(std::string_view text) {
  std::optional<int> port = ParseDecimalUpTo(text, kMaxPortDigits);
  if (!port || *port < 1 || *port > kMaxPort) return std::nullopt;
  return port;
}

std::optional<std::string> PercentDecode(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      decoded.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    int high = HexDigit(text[i + 1]);
    int low = HexDigit(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    decoded.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return decoded;
}

// The trimmed, non-empty pieces of a list between any of the separator bytes.
std::vector<std::string> SplitList(std::string_view list, std::string_view separators) {
  std::vector<std::string> entries;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find_first_of(separators, start);
    if (end == std::string_view::npos) end = list.size();
    std::string entry = TrimBlanks(std::string(list.substr(start, end - start)));
    if (!entry.empty()) entries.push_back(std::move(entry));
    start = end + 1;
  }
  return entries;
}

std::optional<IpAddress> ParseIpv4(std::string_view text) {
  IpAddress address;
  address.bitCount = kIpv4Bits;
  std::size_t start = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    std::size_t dot = text.find('.', start);
    if ((dot == std::string_view::npos) != (i == 3)) return std::nullopt;
    std::optional<int> part = ParseDecimalUpTo(text.substr(start, dot - start), kIpv4DecimalDigits);
    if (!part || *part > kIpv4ByteMax) return std::nullopt;
    address.bytes[i] = static_cast<std::uint8_t>(*part);
    start = dot + 1;
  }
  return address;
}

// Appends the bytes of colon-separated hexadecimal groups; the last group may be a dotted IPv4 address when it ends
// the whole address ("::ffff:10.0.0.1").
bool AppendIpv6Groups(std::string_view part, bool mayEndWithIpv4, std::vector<std::uint8_t>& bytes) {
  if (part.empty()) return true;
  std::size_t start = 0;
  while (true) {
    std::size_t colon = part.find(':', start);
    std::string_view group = part.substr(start, colon == std::string_view::npos ? colon : colon - start);
    if (colon == std::string_view::npos && mayEndWithIpv4 && group.find('.') != std::string_view::npos) {
      std::optional<IpAddress> tail = ParseIpv4(group);
      if (!tail) return false;
      bytes.insert(bytes.end(), tail->bytes.begin(), tail->bytes.begin() + 4);
      return true;
    }
    if (group.empty() || group.size() > kIpv6GroupDigits) return false;
    unsigned value = 0;
    for (char c : group) {
      int digit = HexDigit(c);
      if (digit < 0) return false;
      value = value * 16 + static_cast<unsigned>(digit);
    }
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
    if (colon == std::string_view::npos) return true;
    start = colon + 1;
  }
}

std::optional<IpAddress> ParseIpv6(std::string_view text) {
  // A zone ("fe80::1%eth0") names the interface, not the address.
  text = text.substr(0, text.find('%'));
  std::vector<std::uint8_t> head;
  std::vector<std::uint8_t> tail;
  std::size_t gap = text.find("::");
  if (gap == std::string_view::npos) {
    if (!AppendIpv6Groups(text, true, head) || head.size() != kIpv6Bytes) return std::nullopt;
  } else {
    if (text.find("::", gap + 1) != std::string_view::npos) return std::nullopt;
    if (!AppendIpv6Groups(text.substr(0, gap), false, head) || !AppendIpv6Groups(text.substr(gap + 2), true, tail))
      return std::nullopt;
    // "::" stands for at least one group of zeros.
    if (head.size() + tail.size() > kIpv6Bytes - 2) return std::nullopt;
  }
  IpAddress address;
  address.bitCount = kIpv6Bits;
  std::copy(head.begin(), head.end(), address.bytes.begin());
  std::copy(tail.begin(), tail.end(), address.bytes.end() - static_cast<std::ptrdiff_t>(tail.size()));
  return address;
}

std::optional<IpAddress> ParseIp(std::string_view text) {
  if (text.find(':') != std::string_view::npos) return ParseIpv6(text);
  return ParseIpv4(text);
}

bool PrefixMatches(const IpAddress& network, const IpAddress& address, int prefixBits) {
  if (network.bitCount != address.bitCount) return false;
  int fullBytes = prefixBits / 8;
  if (!std::equal(network.bytes.begin(), network.bytes.begin() + fullBytes, address.bytes.begin())) return false;
  int restBits = prefixBits % 8;
  if (restBits == 0) return true;
  auto mask = static_cast<std::uint8_t>(0xFF << (8 - restBits));
  return (network.bytes[fullBytes] & mask) == (address.bytes[fullBytes] & mask);
}

// A host as the rules compare it: no brackets, no trailing dot (the root label names the same host), lower case.
std::string HostKey(std::string_view host) {
  std::string key = TrimBlanks(std::string(host));
  if (key.size() >= 2 && key.front() == '[' && key.back() == ']') key = key.substr(1, key.size() - 2);
  if (!key.empty() && key.back() == '.') key.pop_back();
  return LowerCase(key);
}

// Splits "name", "name:port", "[v6]" or "[v6]:port". An unbracketed name with more than one colon is an IPv6
// literal, never a name with a port. False when the port or the brackets are malformed.
bool SplitEntryPort(std::string_view entry, std::string_view& name, std::optional<int>& port) {
  name = entry;
  port.reset();
  std::string_view portText;
  bool hasPort = false;
  if (!entry.empty() && entry.front() == '[') {
    std::size_t close = entry.find(']');
    if (close == std::string_view::npos) return false;
    name = entry.substr(1, close - 1);
    std::string_view after = entry.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return false;
      portText = after.substr(1);
      hasPort = true;
    }
  } else if (std::count(entry.begin(), entry.end(), ':') == 1) {
    std::size_t colon = entry.find(':');
    name = entry.substr(0, colon);
    portText = entry.substr(colon + 1);
    hasPort = true;
  }
  if (hasPort) {
    port = ParsePort(portText);
    if (!port) return false;
  }
  return true;
}

bool IsHostNameByte(char c) {
  auto byte = static_cast<unsigned char>(c);
  // Bytes above ASCII let an internationalised name through as the user wrote it.
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || byte >= 0x80;
}

std::optional<ProxyServer> ParseProxyAddress(std::string_view value, int defaultPort) {
  std::string text = TrimBlanks(std::string(value));
  std::string_view rest = text;
  std::size_t schemeEnd = rest.find(kSchemeSeparator);
  if (schemeEnd != std::string_view::npos) {
    // We speak HTTP to the proxy only; an https:// or socks proxy tried as plain HTTP would fail obscurely.
    if (!SameNoCase(rest.substr(0, schemeEnd), "http")) return std::nullopt;
    rest.remove_prefix(schemeEnd + kSchemeSeparator.size());
  }
  std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  ProxyServer server;
  std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    std::string_view userInfo = authority.substr(0, at);
    authority.remove_prefix(at + 1);
    std::size_t colon = userInfo.find(':');
    std::optional<std::string> user = PercentDecode(userInfo.substr(0, colon));
    std::optional<std::string> password =
        PercentDecode(colon == std::string_view::npos ? std::string_view() : userInfo.substr(colon + 1));
    if (!user || !password) return std::nullopt;
    server.user = *user;
    server.password = *password;
  }
  std::string_view host;
  std::optional<int> port;
  bool bracketed = !authority.empty() && authority.front() == '[';
  if (!SplitEntryPort(authority, host, port) || host.empty()) return std::nullopt;
  if (bracketed || host.find(':') != std::string_view::npos) {
    // An IPv6 proxy must be bracketed, or its last group would be taken for the port.
    if (!bracketed || !ParseIpv6(host)) return std::nullopt;
  } else if (!std::all_of(host.begin(), host.end(), IsHostNameByte)) {
    return std::nullopt;
  }
  server.host = std::string(host);
  server.port = port.value_or(defaultPort);
  return server;
}

bool NoProxyEntryMatches(std::string_view entry, const std::string& hostKey, const std::optional<IpAddress>& hostIp,
                         int port) {
  std::string_view name;
  std::optional<int> entryPort;
  if (!SplitEntryPort(entry, name, entryPort)) return false;
  if (entryPort && *entryPort != port) return false;
  std::size_t slash = name.find('/');
  if (slash != std::string_view::npos) {
    std::optional<IpAddress> network = ParseIp(name.substr(0, slash));
    if (!hostIp || !network) return false;
    std::optional<int> prefixBits = ParseDecimalUpTo(name.substr(slash + 1), kIpv4DecimalDigits);
    if (!prefixBits || *prefixBits > network->bitCount) return false;
    return PrefixMatches(*network, *hostIp, *prefixBits);
  }
  // An address never matches a name by suffix: "0.0.1" is not a domain of "10.0.0.1".
  std::optional<IpAddress> entryIp = ParseIp(name);
  if (entryIp || hostIp) {
    return entryIp && hostIp && entryIp->bitCount == hostIp->bitCount && entryIp->bytes == hostIp->bytes;
  }
  std::string domain = LowerCase(name);
  if (domain.rfind("*.", 0) == 0) domain.erase(0, 1);
  if (!domain.empty() && domain.front() == '.') domain.erase(0, 1);
  if (!domain.empty() && domain.back() == '.') domain.pop_back();
  if (domain.empty()) return false;
  if (hostKey == domain) return true;
  return hostKey.size() > domain.size() && hostKey.ends_with(domain) &&
         hostKey[hostKey.size() - domain.size() - 1] == '.';
}

bool WildcardMatches(std::string_view pattern, std::string_view text) {
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t star = std::string_view::npos;
  std::size_t resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// The first variable that is set to something: curl reads an empty one as unset.
const std::string* FirstNonEmpty(std::initializer_list<const std::optional<std::string>*> variables) {
  for (const std::optional<std::string>* variable : variables) {
    if (*variable && !(*variable)->empty()) return &**variable;
  }
  return nullptr;
}

}  // namespace

std::string ProxyServer::Name() const {
  std::string portText = std::to_string(port);
  if (host.find(':') != std::string::npos) return "[" + host + "]:" + portText;
  return host + ":" + portText;
}

std::optional<ProxyServer> ParseProxyUrl(std::string_view value) {
  return ParseProxyAddress(value, kEnvironmentDefaultProxyPort);
}

ProxyServer ProxyFromEnvironment(const ProxyEnvironment& env, std::string_view scheme, std::string_view host,
                                 int port) {
  if (IsLoopbackHost(host)) return {};
  const std::string* noProxy = FirstNonEmpty({&env.no_proxy, &env.NO_PROXY});
  if (noProxy && NoProxyMatches(*noProxy, host, port)) return {};
  const std::string* value = nullptr;
  if (SameNoCase(scheme, "http")) {
    // Not HTTP_PROXY: a CGI program finds a request's "Proxy:" header there (httpoxy).
    value = FirstNonEmpty({&env.http_proxy});
  } else if (SameNoCase(scheme, "https")) {
    value = FirstNonEmpty({&env.https_proxy, &env.HTTPS_PROXY});
  }
  if (!value) value = FirstNonEmpty({&env.all_proxy, &env.ALL_PROXY});
  if (!value) return {};
  return ParseProxyUrl(*value).value_or(ProxyServer{});
}

bool NoProxyMatches(std::string_view noProxy, std::string_view host, int port) {
  std::string list = TrimBlanks(std::string(noProxy));
  if (list == "*") return true;
  std::string hostKey = HostKey(host);
  if (hostKey.empty()) return false;
  std::optional<IpAddress> hostIp = ParseIp(hostKey);
  for (const std::string& entry : SplitList(list, ",")) {
    if (NoProxyEntryMatches(entry, hostKey, hostIp, port)) return true;
  }
  return false;
}

bool IsLoopbackHost(std::string_view host) {
  std::string key = HostKey(host);
  if (key == "localhost" || key.ends_with(".localhost")) return true;
  std::optional<IpAddress> address = ParseIp(key);
  if (!address) return false;
  if (address->bitCount == kIpv4Bits) return address->bytes[0] == kLoopbackFirstByte;
  IpAddress ipv6Loopback;
  ipv6Loopback.bytes.back() = 1;
  // An IPv4-mapped 127.x ("::ffff:127.0.0.1") reaches the same loopback interface.
  IpAddress mappedPrefix;
  mappedPrefix.bitCount = kIpv6Bits;
  mappedPrefix.bytes[10] = mappedPrefix.bytes[11] = 0xFF;
  mappedPrefix.bytes[12] = kLoopbackFirstByte;
  constexpr int kMappedLoopbackPrefixBits = 104;
  return address->bytes == ipv6Loopback.bytes || PrefixMatches(mappedPrefix, *address, kMappedLoopbackPrefixBits);
}

ProxyServer ProxyFromWindowsList(std::string_view proxyList, std::string_view scheme) {
  std::optional<ProxyServer> forAllSchemes;
  for (const std::string& entry : SplitList(proxyList, kWindowsListSeparators)) {
    std::size_t equals = entry.find('=');
    if (equals == std::string::npos) {
      if (!forAllSchemes) forAllSchemes = ParseProxyAddress(entry, kWindowsDefaultProxyPort);
      continue;
    }
    if (!SameNoCase(std::string_view(entry).substr(0, equals), scheme)) continue;
    std::optional<ProxyServer> server = ParseProxyAddress(std::string_view(entry).substr(equals + 1),
                                                          kWindowsDefaultProxyPort);
    if (server) return *server;
  }
  return forAllSchemes.value_or(ProxyServer{});
}

bool WindowsBypassMatches(std::string_view bypassList, std::string_view host, int port) {
  std::string hostKey = HostKey(host);
  if (hostKey.empty()) return false;
  for (const std::string& entry : SplitList(bypassList, kWindowsListSeparators)) {
    if (SameNoCase(entry, "<local>")) {
      // A dotless name is an intranet name; an IPv6 literal has no dot either, but it is an address.
      if (hostKey.find('.') == std::string::npos && hostKey.find(':') == std::string::npos) return true;
      continue;
    }
    std::string_view pattern = entry;
    std::size_t schemeEnd = pattern.find(kSchemeSeparator);
    if (schemeEnd != std::string_view::npos) pattern.remove_prefix(schemeEnd + kSchemeSeparator.size());
    pattern = pattern.substr(0, pattern.find('/'));
    std::string_view name;
    std::optional<int> entryPort;
    if (!SplitEntryPort(pattern, name, entryPort)) continue;
    if (entryPort && *entryPort != port) continue;
    std::string namePattern = LowerCase(name);
    if (!namePattern.empty() && namePattern.back() == '.') namePattern.pop_back();
    if (!namePattern.empty() && WildcardMatches(namePattern, hostKey)) return true;
  }
  return false;
}

ProxyServer ChooseManualProxy(std::string_view proxyList, std::string_view bypassList, std::string_view scheme,
                              std::string_view host, int port) {
  if (IsLoopbackHost(host) || WindowsBypassMatches(bypassList, host, port)) return {};
  return ProxyFromWindowsList(proxyList, scheme);
}

}  // namespace net
