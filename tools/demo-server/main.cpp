// vextal-demo-server: the content server and the version server on one loopback port, with a generated bank of
// papers, so the client can be tried end to end without the real servers.

#include "demo_server.h"

#include "updater/update_description.h"
#include "vextal_config.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

namespace {

std::atomic<bool> g_stopRequested{false};

void RequestStop(int) { g_stopRequested = true; }

constexpr std::size_t kMaxRecords = 8999;  // keeps every paper number at four digits
// The demo build of the client believes this key's public half (VEXTAL_DEMO_UPDATE_KEY).
constexpr const char* kDemoSecretKey = VEXTAL_DEMO_KEY_DIR "/update-secret.hex";

void Usage(std::ostream& out) {
  out << "usage: vextal-demo-server [--port N] [--root DIR] [--records N] [--version TEXT] [--rate KIB]\n"
         "                          [--break SHARE] [--offer-update FILE --new-version V [--update-key KEYFILE]]\n"
         "                          [--quiet]\n"
         "  --port N        port on 127.0.0.1 (0, the default, picks a free one)\n"
         "  --root DIR      folder for the generated paper files (default demo-server-data)\n"
         "  --records N     number of catalogue records, numbered from 1001 (default 300, at most 8999)\n"
         "  --version TEXT  answer of /vextal.asp (default " << vextal::kVersionText
      << ", the version this build gives the client)\n"
         "  --rate KIB      file download speed in KiB/s, 0 for no limit (default 1024)\n"
         "  --break SHARE   cut each paper's first whole download after this share of it (between 0 and 1) by closing\n"
         "                  the connection, so a client's resume can be seen; later downloads are whole\n"
         "  --offer-update FILE  offer FILE as the installer of version V: /vextal.asp answers V,\n"
         "                  /vextal-update.txt describes the installer, /vextal-update.sig signs that\n"
         "                  description, and /updates/vextal-setup-V.exe serves FILE like a paper (ranges, --break)\n"
         "  --new-version V the version offered, dotted decimal numbers such as 3.2\n"
         "  --update-key KEYFILE  the secret key the description is signed with (default the demo key,\n"
         "                  " << kDemoSecretKey << ")\n"
         "  --quiet         no request log on stderr\n"
         "Prints \"listening on 127.0.0.1:PORT\" once ready; stops on SIGTERM or SIGINT.\n";
}

bool ParseCount(const char* text, long long max, long long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && value >= 0 && value <= max;
}

bool ParseShare(const char* text, double& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtod(text, &end);
  return errno == 0 && end != text && *end == '\0' && value > 0 && value < 1;
}

}  // namespace

int main(int argc, char** argv) {
  demo::ServerOptions options;
  options.version = vextal::kVersionText;
  bool versionGiven = false;
  std::optional<std::string> offeredInstaller;
  std::optional<std::string> newVersion;
  std::string updateKey = kDemoSecretKey;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      Usage(std::cout);
      return 0;
    }
    if (option == "--quiet") {
      options.quiet = true;
      continue;
    }
    if (i + 1 >= argc) {
      std::cerr << "vextal-demo-server: " << option << " needs a value\n";
      Usage(std::cerr);
      return 2;
    }
    const char* value = argv[++i];
    long long number = 0;
    double share = 0;
    if (option == "--port" && ParseCount(value, 65535, number)) {
      options.port = static_cast<int>(number);
    } else if (option == "--records" && ParseCount(value, kMaxRecords, number)) {
      options.records = static_cast<std::size_t>(number);
    } else if (option == "--rate" && ParseCount(value, 1 << 20, number)) {
      options.rateKiBPerSecond = static_cast<std::size_t>(number);
    } else if (option == "--break" && ParseShare(value, share)) {
      options.breakShare = share;
    } else if (option == "--root") {
      options.root = value;
    } else if (option == "--version") {
      options.version = value;
      versionGiven = true;
    } else if (option == "--offer-update") {
      offeredInstaller = value;
    } else if (option == "--new-version" && updater::ParseVersion(value)) {
      newVersion = value;
    } else if (option == "--update-key") {
      updateKey = value;
    } else {
      std::cerr << "vextal-demo-server: bad option " << option << " " << value << "\n";
      Usage(std::cerr);
      return 2;
    }
  }

  if (offeredInstaller.has_value() != newVersion.has_value()) {
    std::cerr << "vextal-demo-server: --offer-update and --new-version go together\n";
    Usage(std::cerr);
    return 2;
  }
  if (offeredInstaller) {
    // Two answers for one page would leave it to chance which one a reader of the usage expects.
    if (versionGiven) {
      std::cerr << "vextal-demo-server: --version and --offer-update both name the version page's answer\n";
      return 2;
    }
    options.offer = demo::UpdateOffer{*offeredInstaller, *newVersion, updateKey};
  }

  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  try {
    demo::DemoServer server(options);
    const int port = server.Start();
    std::cout << "listening on 127.0.0.1:" << port << std::endl;
    server.Serve(g_stopRequested);
  } catch (const std::exception& error) {
    std::cerr << "vextal-demo-server: " << error.what() << "\n";
    return 1;
  }
  if (!options.quiet) std::cerr << "stopped\n";
  return 0;
}
