#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// What the publisher says about a new program version, and whether the updater may believe it. The version server is
// reached over plain HTTP, so nothing in these bytes counts until the publisher's Ed25519 signature over them
// verifies with the public key built into the program; and even a signed description may only name a newer version
// and an installer on the same server.
//
// The update description, served at kDescriptionPage beside the version page:
//   - UTF-8 text of "key=value" lines, each ending with LF (the last one too). No CR anywhere: a file saved with CR LF
//     line ends is refused rather than read with a CR inside every value.
//   - A key is 1 to 32 of a-z, 0-9, "-" and "_", then "=" with no blank on either side; the value is the rest of the
//     line exactly, without control bytes. Empty lines and lines starting with "#" are comments.
//   - Required keys, each exactly once:
//       version=3.2                             dotted decimal numbers, see ParseVersion; newer than the program's
//       installer=/updates/vextal-setup-3.2.exe an absolute path on the same server, see IsServerPath
//       size=48211456                           the installer's exact length in bytes, decimal without leading zeros,
//                                               1 to kLargestInstallerBytes
//       sha256=<64 digits>                      SHA-256 of the installer, lower-case hex
//       expires=2027-01-08T00:00:00Z            the moment from which no updater believes it, see ParseUtcTime; a
//                                               signature alone cannot say when it was made, so without a date an
//                                               old signed description could be replayed for ever
//   - Other keys are ignored, so a later updater can learn new ones, but they follow the same line rules, and no key
//     may appear twice (a second "installer=" line must not be able to mean one thing to one reader and another to
//     the next).
//   - At most kLargestDescriptionBytes bytes.
// Once verified, a version stays the lowest any later description may name (see verified_version.h), so a replayed
// description of an older release, still within its date, cannot take a user back to it.
// The signature, served at kSignaturePage: the 64-byte Ed25519 detached signature over exactly the bytes of the
// description as served, written as 128 hex digits and one LF (either case; blanks and line ends around it are
// ignored). Hex rather than base64 so a publisher can compare it by eye, and it never needs escaping anywhere.
// `update-sign describe` writes both files; nothing else should.
namespace updater {

inline constexpr const char* kDescriptionPage = "/vextal-update.txt";
inline constexpr const char* kSignaturePage = "/vextal-update.sig";

inline constexpr std::size_t kLargestDescriptionBytes = 4096;
// Far above any installer of this program; a description naming more is more likely a fault than a release, and the
// download must end by a named limit.
inline constexpr std::uint64_t kLargestInstallerBytes = 512ULL * 1024 * 1024;

// Ed25519 key and signature lengths, fixed by the algorithm.
inline constexpr std::size_t kPublicKeyBytes = 32;
inline constexpr std::size_t kSignatureBytes = 64;
inline constexpr std::size_t kSecretKeyBytes = 64;  // libsodium's form: the 32-byte seed, then the public key

struct UpdateDescription {
  std::string version;
  std::string installerPath;
  std::uint64_t size = 0;
  std::string sha256;
  std::int64_t expiresUtcSeconds = 0;  // seconds since 1970-01-01T00:00:00Z
};

struct VerifiedUpdate {
  UpdateDescription description;
  std::string installerUrl;  // the server origin and the installer path
};

enum class Refusal {
  kNoPublisherKey,      // the build carries no public key (or not one of 64 hex digits): it verifies nothing
  kCryptoUnavailable,   // libsodium could not start
  kBadSignature,        // the signature text is not 128 hex digits, or does not verify over these bytes
  kMalformed,           // the lines, a key, a missing or repeated key, a version or date that is not one, over the
                        // length
  kExpired,             // its expiry is at or before the check's "now"
  kRolledBack,          // the version is below the highest one ever verified here
  kNotNewer,            // the version is not above the running one
  kInstallerElsewhere,  // the installer path is not a plain absolute path on this server
  kBadSize,             // not a number, zero, or above kLargestInstallerBytes
  kBadSha256,           // not 64 lower-case hex digits
};

// What the user reads, UTF-8: every one says that nothing was installed; the missing key also names the publisher's
// site to download the new version from by hand.
std::string RefusalText(Refusal refusal);

struct UpdateCheck {
  std::string_view description;           // the description's bytes as received
  std::string_view signature;             // the signature page's text as received
  std::string_view publicKeyHex;          // the build's public key (vextal::kUpdatePublicKey)
  std::string_view runningVersion;        // vextal::kVersionText
  std::string_view origin;                // "http://host[:port]" the description came from, and the installer
  std::int64_t nowUtcSeconds = 0;         // the computer's clock, seconds since the epoch
  std::string_view highestVerified = {};  // the highest version verified before (ReadHighestVerified); empty: none
};

// The signature is checked before anything in the description is read; then the lines, the expiry, the rollback, the
// version against the running one, and the installer's facts, in that order. A highestVerified that is not a version
// refuses everything rather than guess which versions it would allow.
std::variant<VerifiedUpdate, Refusal> VerifyUpdate(const UpdateCheck& check);

// The description text for these facts, in the order and form above (the facts themselves are not checked here).
std::string DescriptionText(const UpdateDescription& description);
// 128 lower-case hex digits and LF.
std::string SignatureText(std::string_view signatureBytes);

// The publisher's side: update-sign and the demo server sign with these, so what they serve is what VerifyUpdate reads.
// The secret key's kSecretKeyBytes from the text of its file as update-sign keygen writes it (128 hex digits, blanks
// and line ends around them ignored); nothing when the text is not one, or when the key's public half does not belong
// to its seed: a damaged key would sign descriptions nobody can verify. The caller wipes the key when done.
std::optional<std::string> SecretKeyOfText(std::string_view text);
// The signature page's text (SignatureText) over exactly these description bytes; nothing when secretKey is not
// kSecretKeyBytes long or libsodium cannot start.
std::optional<std::string> SignDescription(std::string_view description, std::string_view secretKey);

// What four year digits can write, in seconds since the epoch.
inline constexpr std::int64_t kEarliestUtcSeconds = -62167219200;  // 0000-01-01T00:00:00Z
inline constexpr std::int64_t kLatestUtcSeconds = 253402300799;    // 9999-12-31T23:59:59Z

// The one form of a moment in a description: "YYYY-MM-DDTHH:MM:SSZ", UTC, a day the calendar has and a time from
// 00:00:00 to 23:59:59; no fraction, offset, lower-case letter or blank. Seconds since the epoch; nothing otherwise.
std::optional<std::int64_t> ParseUtcTime(std::string_view text);
// That form; a moment outside kEarliestUtcSeconds..kLatestUtcSeconds is written as the nearer end.
std::string UtcTimeText(std::int64_t seconds);

// Dotted decimal numbers: one or more parts of 1 to 9 digits, separated by single dots, a part "0" or without a
// leading zero ("3.01" is refused rather than guessed at). Nothing else: no blanks, signs or suffixes.
std::optional<std::vector<std::uint32_t>> ParseVersion(std::string_view text);
// Part by part as numbers ("3.10" > "3.9"); missing parts count as 0, so "3.1" == "3.1.0" and a server announcing
// "3.1.0" to a program "3.1" installs nothing. Nothing when either is not a version.
std::optional<std::strong_ordering> CompareVersions(std::string_view a, std::string_view b);

// A path the installer may be fetched from on the description's own server: "/" then segments separated by single
// "/", each made of A-Z a-z 0-9 - . _ ~ and %XX escapes, not ending with "/", at most 1024 bytes. Refused so that the
// path can only name a file below the server's root: another host ("//host/x", "http://..."), backslashes, a query
// or fragment, a segment of dots only ("." and ".." but also "..." that a Windows server reads as ".."), and an
// escape standing for ".", "/", "\", "%" or a control byte, which only serve to hide one of these.
bool IsServerPath(std::string_view path);

// Hex text of exactly `bytes` bytes (either case) as those bytes; nothing for any other text.
std::optional<std::string> BytesOfHex(std::string_view hex, std::size_t bytes);
// Lower-case hex.
std::string HexOf(std::string_view bytes);

}  // namespace updater
