// update-sign: the publisher's side of the program update. Makes the Ed25519 key pair whose public half a release
// build carries, writes and signs the update description for an installer, and checks a description as the updater
// will.
//
//   update-sign keygen DIR
//   update-sign describe --version V --installer-path /PATH --file INSTALLER --secret KEYFILE -o OUTDIR
//                        [--expires WHEN]
//   update-sign verify --public KEYFILE --dir DIR [--running VERSION] [--origin ORIGIN] [--file INSTALLER] [--at WHEN]

#include "net/http_text.h"
#include "net/internet_date.h"
#include "updater/file_digest.h"
#include "updater/update_description.h"
#include "vextal_config.h"

#include <sodium.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <variant>

namespace {

namespace fs = std::filesystem;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kPublicKeyFile = "update-public.hex";
constexpr const char* kSecretKeyFile = "update-secret.hex";
// Far larger than any key, signature or description file; what is longer is none of them.
constexpr std::uintmax_t kLargestTextFileBytes = 64 * 1024;

// describe reads its own output back the way the updater will, so a publisher never uploads something every
// updater refuses. Any version a release can carry is above "0"; the origin only has to be one.
constexpr const char* kSelfCheckRunningVersion = "0";
constexpr const char* kSelfCheckOrigin = "http://update-sign.invalid";

// How long a description is believed when the publisher does not say: long enough that a release needs no re-signing
// for a month, short enough that a replayed old description soon stops working.
constexpr std::int64_t kDefaultExpiryDays = 30;
constexpr std::int64_t kSecondsPerDay = 24 * 60 * 60;
constexpr char kDaysSuffix = 'd';
// Five digits: some 270 years, past any release's life and still within the four-digit years a description writes.
constexpr std::size_t kLongestDaysText = 5;

constexpr const char* kUsage =
    "usage:\n"
    "  update-sign keygen DIR\n"
    "      writes a new key pair: DIR/update-public.hex (the value for -DVEXTAL_UPDATE_PUBLIC_KEY) and\n"
    "      DIR/update-secret.hex (readable by its owner only; keep it off the build machines)\n"
    "  update-sign describe --version V --installer-path /PATH --file INSTALLER --secret KEYFILE -o OUTDIR\n"
    "                       [--expires WHEN]\n"
    "      writes OUTDIR/vextal-update.txt for the installer (its size and SHA-256 read from INSTALLER, to be\n"
    "      served at /PATH on the version server) and its signature OUTDIR/vextal-update.sig; updaters refuse it\n"
    "      from WHEN on: a UTC moment YYYY-MM-DDTHH:MM:SSZ or a number of days from now such as 30d (the default),\n"
    "      so sign a fresh description before then\n"
    "  update-sign verify --public KEYFILE --dir DIR [--running VERSION] [--origin ORIGIN] [--file INSTALLER]\n"
    "                     [--at WHEN]\n"
    "      checks DIR's description and signature as the updater of version VERSION (default: this build's) does\n"
    "      now, or at WHEN (as for describe), and with --file that INSTALLER is the file it names\n";

// Prints to stderr; returns the failure exit status, so a check reads `return Fail(...)`.
int Fail(const std::string& message) {
  std::fprintf(stderr, "update-sign: %s\n", message.c_str());
  return kExitFailed;
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "update-sign: %s\n%s", message.c_str(), kUsage);
  return kExitUsage;
}

std::optional<std::string> ReadSmallFile(const fs::path& file) {
  std::error_code error;
  if (!fs::is_regular_file(file, error) || fs::file_size(file, error) > kLargestTextFileBytes || error) {
    return std::nullopt;
  }
  std::ifstream in(file, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  if (!in) return std::nullopt;
  return content.str();
}

bool WriteFile(const fs::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

// "--name value" pairs; nothing when an argument is not one, a name repeats or a value is missing.
std::optional<std::map<std::string, std::string>> ReadOptions(int argc, char** argv, int first, std::string& problem) {
  std::map<std::string, std::string> options;
  for (int i = first; i < argc; i += 2) {
    const std::string name = argv[i];
    if (name.size() < 2 || name[0] != '-') {
      problem = "unexpected argument " + name;
      return std::nullopt;
    }
    if (i + 1 >= argc) {
      problem = name + " needs a value";
      return std::nullopt;
    }
    if (!options.emplace(name, argv[i + 1]).second) {
      problem = name + " given twice";
      return std::nullopt;
    }
  }
  return options;
}

// Leaves the named options out of `options` as it takes them, so what remains is unknown.
std::optional<std::string> Take(std::map<std::string, std::string>& options, const std::string& name) {
  const auto found = options.find(name);
  if (found == options.end()) return std::nullopt;
  std::string value = found->second;
  options.erase(found);
  return value;
}

int Keygen(const fs::path& dir) {
  const fs::path publicFile = dir / kPublicKeyFile;
  const fs::path secretFile = dir / kSecretKeyFile;
  std::error_code error;
  // A key pair already in use must never be lost to a slip of the command line: the programs out there believe only
  // it.
  if (fs::exists(publicFile, error) || fs::exists(secretFile, error)) {
    return Fail(dir.string() + " already holds a key pair; remove it first if it really is to be replaced");
  }
  fs::create_directories(dir, error);
  if (error) return Fail("cannot make " + dir.string() + ": " + error.message());

  unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
  unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
  crypto_sign_keypair(publicKey, secretKey);
  std::string secretHex =
      updater::HexOf(std::string_view(reinterpret_cast<const char*>(secretKey), sizeof secretKey)) + "\n";
  sodium_memzero(secretKey, sizeof secretKey);

  // The file is made empty and closed to its owner before the key goes in.
  bool written = WriteFile(secretFile, {});
  fs::permissions(secretFile, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace, error);
  written = written && !error && WriteFile(secretFile, secretHex);
  sodium_memzero(secretHex.data(), secretHex.size());
  if (!written) return Fail("cannot write " + secretFile.string());
  const std::string publicHex =
      updater::HexOf(std::string_view(reinterpret_cast<const char*>(publicKey), sizeof publicKey));
  if (!WriteFile(publicFile, publicHex + "\n")) return Fail("cannot write " + publicFile.string());

  std::printf("wrote %s and %s\nbuild releases with -DVEXTAL_UPDATE_PUBLIC_KEY=%s\n", publicFile.string().c_str(),
              secretFile.string().c_str(), publicHex.c_str());
  return kExitOk;
}

std::optional<std::string> ReadSecretKey(const fs::path& file, std::string& problem) {
  std::optional<std::string> text = ReadSmallFile(file);
  if (!text) {
    problem = "cannot read the secret key " + file.string();
    return std::nullopt;
  }
  std::optional<std::string> secret = updater::SecretKeyOfText(*text);
  sodium_memzero(text->data(), text->size());
  if (!secret) {
    problem = file.string() + " is not a whole secret key of update-sign keygen (128 hex digits whose public half "
                              "belongs to its secret half)";
    return std::nullopt;
  }
  return secret;
}

// A UTC moment as ParseUtcTime reads it, or a number of days after `now` ("30d").
std::optional<std::int64_t> MomentOfText(const std::string& text, std::int64_t now) {
  if (text.size() > 1 && text.size() <= kLongestDaysText + 1 && text.back() == kDaysSuffix && text.front() != '0') {
    std::int64_t days = 0;
    const char* last = text.data() + text.size() - 1;
    const auto [end, error] = std::from_chars(text.data(), last, days);
    if (error == std::errc() && end == last) return now + days * kSecondsPerDay;
    return std::nullopt;
  }
  return updater::ParseUtcTime(text);
}

fs::path PageFile(const fs::path& dir, const char* page) { return dir / (page + 1); }

int Describe(std::map<std::string, std::string> options) {
  const auto version = Take(options, "--version");
  const auto installerPath = Take(options, "--installer-path");
  const auto installer = Take(options, "--file");
  const auto secretFile = Take(options, "--secret");
  const auto outDir = Take(options, "-o");
  const std::string expiresText = Take(options, "--expires").value_or(std::to_string(kDefaultExpiryDays) + kDaysSuffix);
  if (!options.empty()) return Usage("unknown option " + options.begin()->first);
  if (!version || !installerPath || !installer || !secretFile || !outDir) {
    return Usage("describe needs --version, --installer-path, --file, --secret and -o");
  }
  const std::int64_t now = net::SystemNow();
  const std::optional<std::int64_t> expires = MomentOfText(expiresText, now);
  if (!expires) {
    return Fail("--expires " + expiresText + " is neither a UTC moment such as 2027-01-08T00:00:00Z nor a number of "
                "days such as 30d");
  }
  if (*expires <= now) {
    return Fail("--expires " + expiresText + " has passed: every updater would refuse the description already");
  }
  if (!updater::ParseVersion(*version)) {
    return Fail("--version " + *version + " is not dotted decimal numbers (such as 3.2 or 3.10.1)");
  }
  if (!updater::IsServerPath(*installerPath)) {
    return Fail("--installer-path " + *installerPath +
                " is not a plain absolute path on the version server: it starts with \"/\", names a file, and has "
                "segments of A-Z a-z 0-9 - . _ ~ and %XX escapes only, none of them \".\" or \"..\"");
  }
  const std::optional<updater::FileDigest> digest = updater::DigestOfFile(*installer, updater::kLargestInstallerBytes);
  if (!digest) {
    return Fail("cannot read " + *installer + " as a file of at most " +
                std::to_string(updater::kLargestInstallerBytes) + " bytes");
  }
  if (digest->size == 0) return Fail(*installer + " is empty");

  std::string problem;
  std::optional<std::string> secret = ReadSecretKey(*secretFile, problem);
  if (!secret) return Fail(problem);
  const std::string text =
      updater::DescriptionText({*version, *installerPath, digest->size, digest->sha256, *expires});
  const std::optional<std::string> signatureText = updater::SignDescription(text, *secret);
  unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
  crypto_sign_ed25519_sk_to_pk(publicKey, reinterpret_cast<const unsigned char*>(secret->data()));
  sodium_memzero(secret->data(), secret->size());
  if (!signatureText) return Fail("cannot sign with " + *secretFile);
  const std::string publicHex =
      updater::HexOf(std::string_view(reinterpret_cast<const char*>(publicKey), sizeof publicKey));

  const auto verdict = updater::VerifyUpdate({.description = text,
                                              .signature = *signatureText,
                                              .publicKeyHex = publicHex,
                                              .runningVersion = kSelfCheckRunningVersion,
                                              .origin = kSelfCheckOrigin,
                                              .nowUtcSeconds = now});
  if (const auto* refusal = std::get_if<updater::Refusal>(&verdict)) {
    return Fail("the updater would refuse this description: " + updater::RefusalText(*refusal));
  }

  std::error_code error;
  fs::create_directories(*outDir, error);
  if (error) return Fail("cannot make " + *outDir + ": " + error.message());
  const fs::path descriptionFile = PageFile(*outDir, updater::kDescriptionPage);
  const fs::path signatureFile = PageFile(*outDir, updater::kSignaturePage);
  if (!WriteFile(descriptionFile, text)) return Fail("cannot write " + descriptionFile.string());
  if (!WriteFile(signatureFile, *signatureText)) return Fail("cannot write " + signatureFile.string());
  std::printf("wrote %s and %s\n%ssigned with the key whose public half is %s\nserve them at %s and %s, and the "
              "installer at %s, on the version server\nupdaters refuse it from %s on: sign a fresh one before then\n",
              descriptionFile.string().c_str(), signatureFile.string().c_str(), text.c_str(), publicHex.c_str(),
              updater::kDescriptionPage, updater::kSignaturePage, installerPath->c_str(),
              updater::UtcTimeText(*expires).c_str());
  return kExitOk;
}

int Verify(std::map<std::string, std::string> options) {
  const auto publicFile = Take(options, "--public");
  const auto dir = Take(options, "--dir");
  const std::string running = Take(options, "--running").value_or(vextal::kVersionText);
  const std::string origin = Take(options, "--origin").value_or(vextal::kVersionServer);
  const auto installer = Take(options, "--file");
  const auto atText = Take(options, "--at");
  if (!options.empty()) return Usage("unknown option " + options.begin()->first);
  if (!publicFile || !dir) return Usage("verify needs --public and --dir");
  const std::int64_t now = net::SystemNow();
  const std::optional<std::int64_t> at = atText ? MomentOfText(*atText, now) : now;
  if (!at) return Usage("--at " + *atText + " is neither a UTC moment nor a number of days");

  const std::optional<std::string> publicText = ReadSmallFile(*publicFile);
  if (!publicText) return Fail("cannot read the public key " + *publicFile);
  const fs::path descriptionFile = PageFile(*dir, updater::kDescriptionPage);
  const fs::path signatureFile = PageFile(*dir, updater::kSignaturePage);
  const std::optional<std::string> description = ReadSmallFile(descriptionFile);
  if (!description) return Fail("cannot read " + descriptionFile.string());
  const std::optional<std::string> signature = ReadSmallFile(signatureFile);
  if (!signature) return Fail("cannot read " + signatureFile.string());

  const std::string publicHex = net::TrimBlanks(*publicText);
  const auto verdict = updater::VerifyUpdate({.description = *description,
                                              .signature = *signature,
                                              .publicKeyHex = publicHex,
                                              .runningVersion = running,
                                              .origin = origin,
                                              .nowUtcSeconds = *at});
  if (const auto* refusal = std::get_if<updater::Refusal>(&verdict)) {
    return Fail("refused: " + updater::RefusalText(*refusal));
  }
  const updater::VerifiedUpdate& update = std::get<updater::VerifiedUpdate>(verdict);
  std::printf("verified: version %s (above %s), installer %s, %llu bytes, sha256 %s, refused from %s on\n",
              update.description.version.c_str(), running.c_str(), update.installerUrl.c_str(),
              static_cast<unsigned long long>(update.description.size), update.description.sha256.c_str(),
              updater::UtcTimeText(update.description.expiresUtcSeconds).c_str());
  if (installer) {
    if (!updater::FileHasSha256(*installer, update.description.sha256, update.description.size)) {
      return Fail(*installer + " is not the installer this description names (its size or SHA-256 differs)");
    }
    std::printf("%s is that installer\n", installer->c_str());
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("no command");
  if (sodium_init() < 0) return Fail("libsodium cannot start");
  const std::string command = argv[1];
  if (command == "-h" || command == "--help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (command == "keygen") {
    if (argc != 3) return Usage("keygen takes one folder");
    return Keygen(argv[2]);
  }
  if (command != "describe" && command != "verify") return Usage("unknown command " + command);
  std::string problem;
  auto options = ReadOptions(argc, argv, 2, problem);
  if (!options) return Usage(problem);
  return command == "describe" ? Describe(std::move(*options)) : Verify(std::move(*options));
}
