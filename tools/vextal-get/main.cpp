// vextal-get: fetches URLs with the program's own HTTP client and pump policy, for diagnosing servers and measuring
// downloads. One client serves every URL in order, so keep-alive and cookies behave as in the program.
//
//   vextal-get [--events] [--pump-always] [--read-limit MS] [-o FILE] URL [URL ...]
//
// Waits on the network as the program does: a server silent for the program's read limit (or sending less than the
// client's floor within it) fails the get. --read-limit 0 waits without limit, as curl without --speed-time does.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "net/pump_policy.h"
#include "net/body_sink.h"
#include "net/http_client.h"
#include "net/http_error.h"
#include "exchange/server_pages.h"
#include "platform/stdio_file.h"


namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Options {
  bool events = false;
  bool pumpAlways = false;
  int readLimitMs = exchange::kSilentLinkLimitMs;
  std::string output;
  std::vector<std::string> urls;
};

void PrintUsage() {
  std::fputs("usage: vextal-get [--events] [--pump-always] [--read-limit MS] [-o FILE] URL [URL ...]\n", stderr);
}

// A count of milliseconds, at most a day: digits only.
bool ParseMilliseconds(const std::string& text, int& ms) {
  constexpr long kDayMs = 24L * 60 * 60 * 1000;
  if (text.empty() || text.size() > 8) return false;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > kDayMs) return false;
  ms = static_cast<int>(value);
  return true;
}

bool ParseArguments(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--events") {
      options.events = true;
    } else if (arg == "--pump-always") {
      options.pumpAlways = true;
    } else if (arg == "--read-limit") {
      if (++i >= argc || !ParseMilliseconds(argv[i], options.readLimitMs)) return false;
    } else if (arg == "-o") {
      if (++i >= argc) return false;
      options.output = argv[i];
    } else if (arg.size() > 1 && arg[0] == '-') {
      return false;
    } else {
      options.urls.push_back(arg);
    }
  }
  return !options.urls.empty();
}

// The text whole on one line: CR and LF as \r and \n, NUL as \0, every other control byte as \xHH. A server's
// status line can carry any byte, and one the terminal acts on (or a NUL that ends a C string) would hide the rest.
std::string Printable(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  constexpr unsigned char kFirstPrintable = 0x20;
  constexpr unsigned char kDelete = 0x7f;
  constexpr int kNibbleBits = 4;
  constexpr unsigned char kNibbleMask = 0xf;
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\0') {
      out += "\\0";
    } else if (byte < kFirstPrintable || byte == kDelete) {
      out += "\\x";
      out += kHex[byte >> kNibbleBits];
      out += kHex[byte & kNibbleMask];
    } else {
      out += c;
    }
  }
  return out;
}

// One line on stderr, written by its length: no byte of it can end it early.
void PrintLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fputc('\n', stderr);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseArguments(argc, argv, options)) {
    PrintUsage();
    return kExitUsage;
  }

  std::FILE* out = stdout;
  if (!options.output.empty()) {
    out = std::fopen(options.output.c_str(), "wb");
    if (out == nullptr) {
      std::fprintf(stderr, "vextal-get: cannot open %s: %s\n", options.output.c_str(), std::strerror(errno));
      return kExitFailed;
    }
  }
  if (out == stdout) platform::WriteBytesAsTheyAre(stdout);
  // The event and error lines end in LF as on every platform, so logs of both builds compare byte for byte.
  platform::WriteBytesAsTheyAre(stderr);

  // Bodies arrive in pieces of up to 32 KiB: writing each straight through saves splitting it into a flush of the
  // stdio buffer plus a remainder, which halves the write calls of a large download.
  std::setvbuf(out, nullptr, _IONBF, 0);

  // The program always has a pump policy in force; here the "UI" has nothing to dispatch.
  net::PumpPolicy policy;
  policy.SetOnlyWhenIdle(!options.pumpAlways);
  net::SetPumpDispatcher([] {});

  net::HttpClient client;
  client.ReadTimeout = options.readLimitMs;
  if (options.events) {
    client.OnWorkBegin = [](net::HttpClient&, net::WorkMode, std::int64_t max) {
      std::fprintf(stderr, "OnWorkBegin %lld\n", static_cast<long long>(max));
    };
    client.OnWork = [](net::HttpClient&, net::WorkMode, std::int64_t count) {
      std::fprintf(stderr, "OnWork %lld\n", static_cast<long long>(count));
    };
    client.OnWorkEnd = [](net::HttpClient&, net::WorkMode) { std::fputs("OnWorkEnd\n", stderr); };
  }

  bool allSucceeded = true;
  for (const std::string& url : options.urls) {
    std::int64_t start = options.output.empty() ? -1 : platform::FilePosition(out);
    net::FileSink sink(out);
    try {
      client.Get(url, sink);
      sink.Finish();
      continue;
    } catch (const net::HttpClientError& error) {
      PrintLine(std::string("HttpClientError ") + net::ErrorKindName(error.Kind()) + " " +
                std::to_string(error.Code()) + " " + Printable(error.Message()));
    } catch (const std::exception& error) {
      PrintLine("vextal-get: " + Printable(error.what()));
    }
    allSucceeded = false;
    // Only successful bodies remain in a regular output file.
    platform::CutFileBack(out, start);
  }

  bool closed = out == stdout ? std::fflush(out) == 0 : std::fclose(out) == 0;
  if (!closed) {
    std::fprintf(stderr, "vextal-get: cannot write the output: %s\n", std::strerror(errno));
    allSucceeded = false;
  }
  return allSucceeded ? kExitOk : kExitFailed;
}
