#include "updater/update_description.h"

#include "tests/updater/demo_key.h"
#include "vextal_config.h"

#include <gtest/gtest.h>

#include <sodium.h>

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace updater {
namespace {

constexpr const char* kOrigin = "http://127.0.0.1:8080";
constexpr const char* kSha = "93c2d99586921ed33e3953050b56302c85824bcc9c89a35a6b96da6eac8c236b";
constexpr const char* kInstaller = "/updates/vextal-setup-3.2.exe";
constexpr const char* kExpires = "2027-01-08T00:00:00Z";
constexpr std::int64_t kExpiresSeconds = 1799366400;
// A check a day before the description runs out.
constexpr std::int64_t kNow = kExpiresSeconds - 24 * 60 * 60;

std::string Description(const std::string& version, const std::string& installer, const std::string& size,
                        const std::string& sha256, const std::string& more = "",
                        const std::string& expires = kExpires) {
  return "version=" + version + "\ninstaller=" + installer + "\nsize=" + size + "\nsha256=" + sha256 +
         "\nexpires=" + expires + "\n" + more;
}

std::string Good(const std::string& more = "") { return Description("3.2", kInstaller, "48211456", kSha, more); }

std::optional<Refusal> RefusalOf(const std::variant<VerifiedUpdate, Refusal>& verdict) {
  if (const Refusal* refusal = std::get_if<Refusal>(&verdict)) return *refusal;
  return std::nullopt;
}

// How the test hands the description to the verifier: signed as it stands with the demo key, or broken in one way.
enum class Road {
  kRightKey,
  kOtherKey,
  kChangedByte,     // one bit of the description flipped after signing
  kAppendedBytes,   // a line added after the signed bytes
  kSignatureNotHex,
  kNoBuildKey,      // a build without a publisher key
};

TEST(VerifyUpdate, BelievesOnlyASignedDescriptionOfANewerVersionOnTheSameServer) {
  struct Case {
    const char* label;
    std::string description;
    Road road;
    const char* running;
    std::optional<Refusal> expected;  // nothing: verified
  };
  const std::optional<Refusal> kVerified;
  const std::string kTooLong = Good("#" + std::string(kLargestDescriptionBytes, 'x') + "\n");
  const std::vector<Case> cases = {
      {"signed and newer", Good(), Road::kRightKey, "3.1", kVerified},
      {"another key", Good(), Road::kOtherKey, "3.1", Refusal::kBadSignature},
      {"a changed byte", Good(), Road::kChangedByte, "3.1", Refusal::kBadSignature},
      {"bytes after the signed text", Good(), Road::kAppendedBytes, "3.1", Refusal::kBadSignature},
      {"signature text not hex", Good(), Road::kSignatureNotHex, "3.1", Refusal::kBadSignature},
      {"build without a key", Good(), Road::kNoBuildKey, "3.1", Refusal::kNoPublisherKey},
      {"same version", Description("3.1", kInstaller, "1", kSha), Road::kRightKey, "3.1", Refusal::kNotNewer},
      {"3.1.0 is 3.1", Description("3.1.0", kInstaller, "1", kSha), Road::kRightKey, "3.1", Refusal::kNotNewer},
      {"older", Description("3.0.9", kInstaller, "1", kSha), Road::kRightKey, "3.1", Refusal::kNotNewer},
      {"3.10 is above 3.9", Description("3.10", kInstaller, "1", kSha), Road::kRightKey, "3.9", kVerified},
      {"running version not a version", Good(), Road::kRightKey, "3.1 beta", Refusal::kNotNewer},
      {"version with a suffix", Description("3.2-beta", kInstaller, "1", kSha), Road::kRightKey, "3.1",
       Refusal::kMalformed},
      {"version with a leading zero", Description("3.02", kInstaller, "1", kSha), Road::kRightKey, "3.1",
       Refusal::kMalformed},
      {"unknown key ignored", Good("channel=beta 测试\n"), Road::kRightKey, "3.1", kVerified},
      {"comments and empty lines", "# 3.2\n\n" + Good("\n#end\n"), Road::kRightKey, "3.1", kVerified},
      {"known key twice", Good("version=9.0\n"), Road::kRightKey, "3.1", Refusal::kMalformed},
      {"unknown key twice", Good("x=1\nx=1\n"), Road::kRightKey, "3.1", Refusal::kMalformed},
      {"CR LF line ends", "version=3.2\r\ninstaller=/a.exe\r\nsize=1\r\nsha256=" + std::string(kSha) + "\r\n",
       Road::kRightKey, "3.1", Refusal::kMalformed},
      {"last line without LF", Good().substr(0, Good().size() - 1), Road::kRightKey, "3.1", Refusal::kMalformed},
      {"blank before =", Good("version =3.3\n"), Road::kRightKey, "3.1", Refusal::kMalformed},
      {"upper-case key", Good("Extra=1\n"), Road::kRightKey, "3.1", Refusal::kMalformed},
      {"line without =", Good("installer\n"), Road::kRightKey, "3.1", Refusal::kMalformed},
      {"tab in a value", Good("note=a\tb\n"), Road::kRightKey, "3.1", Refusal::kMalformed},
      {"no sha256", "version=3.2\ninstaller=/a.exe\nsize=1\n", Road::kRightKey, "3.1", Refusal::kMalformed},
      {"empty description", "", Road::kRightKey, "3.1", Refusal::kMalformed},
      {"longer than the ceiling", kTooLong, Road::kRightKey, "3.1", Refusal::kMalformed},
      {"installer on another host", Description("3.2", "//evil.example/x.exe", "1", kSha), Road::kRightKey, "3.1",
       Refusal::kInstallerElsewhere},
      {"installer as a URL", Description("3.2", "http://evil.example/x.exe", "1", kSha), Road::kRightKey, "3.1",
       Refusal::kInstallerElsewhere},
      {"installer with backslashes", Description("3.2", "/updates\\..\\x.exe", "1", kSha), Road::kRightKey, "3.1",
       Refusal::kInstallerElsewhere},
      {"installer leaving by ..", Description("3.2", "/updates/../../x.exe", "1", kSha), Road::kRightKey, "3.1",
       Refusal::kInstallerElsewhere},
      {"installer leaving by %2e%2e", Description("3.2", "/updates/%2e%2e/x.exe", "1", kSha), Road::kRightKey, "3.1",
       Refusal::kInstallerElsewhere},
      {"installer path relative", Description("3.2", "updates/x.exe", "1", kSha), Road::kRightKey, "3.1",
       Refusal::kInstallerElsewhere},
      {"size zero", Description("3.2", kInstaller, "0", kSha), Road::kRightKey, "3.1", Refusal::kBadSize},
      {"size at the ceiling", Description("3.2", kInstaller, "536870912", kSha), Road::kRightKey, "3.1", kVerified},
      {"size over the ceiling", Description("3.2", kInstaller, "536870913", kSha), Road::kRightKey, "3.1",
       Refusal::kBadSize},
      {"size past 64 bits", Description("3.2", kInstaller, "99999999999999999999999", kSha), Road::kRightKey, "3.1",
       Refusal::kBadSize},
      {"size with a leading zero", Description("3.2", kInstaller, "01", kSha), Road::kRightKey, "3.1",
       Refusal::kBadSize},
      {"size negative", Description("3.2", kInstaller, "-1", kSha), Road::kRightKey, "3.1", Refusal::kBadSize},
      {"size empty", Description("3.2", kInstaller, "", kSha), Road::kRightKey, "3.1", Refusal::kBadSize},
      {"sha256 upper-case", Description("3.2", kInstaller, "1", std::string(64, 'A')), Road::kRightKey, "3.1",
       Refusal::kBadSha256},
      {"sha256 short", Description("3.2", kInstaller, "1", std::string(63, 'a')), Road::kRightKey, "3.1",
       Refusal::kBadSha256},
  };

  ASSERT_GE(sodium_init(), 0);
  const std::string demoSecret = testsupport::DemoSecretKey();
  unsigned char otherPublic[crypto_sign_PUBLICKEYBYTES];
  unsigned char otherSecret[crypto_sign_SECRETKEYBYTES];
  const unsigned char otherSeed[crypto_sign_SEEDBYTES] = {42};
  crypto_sign_seed_keypair(otherPublic, otherSecret, otherSeed);

  for (const Case& c : cases) {
    const bool other = c.road == Road::kOtherKey;
    std::string signature =
        testsupport::Signed(c.description, other ? reinterpret_cast<const char*>(otherSecret) : demoSecret.data());
    std::string received = c.description;
    if (c.road == Road::kChangedByte) received[received.size() / 2] ^= 1;
    if (c.road == Road::kAppendedBytes) received += "size=1\n";
    if (c.road == Road::kSignatureNotHex) signature = "not a signature\n";
    const std::string key = c.road == Road::kNoBuildKey ? "" : testsupport::DemoPublicKeyHex();

    const auto verdict = VerifyUpdate({.description = received,
                                       .signature = signature,
                                       .publicKeyHex = key,
                                       .runningVersion = c.running,
                                       .origin = kOrigin,
                                       .nowUtcSeconds = kNow});
    if (c.expected) {
      const Refusal* refusal = std::get_if<Refusal>(&verdict);
      ASSERT_NE(refusal, nullptr) << c.label;
      EXPECT_EQ(*refusal, *c.expected) << c.label;
    } else {
      const VerifiedUpdate* update = std::get_if<VerifiedUpdate>(&verdict);
      ASSERT_NE(update, nullptr) << c.label << ": " << RefusalText(std::get<Refusal>(verdict));
      EXPECT_EQ(update->installerUrl, kOrigin + update->description.installerPath) << c.label;
    }
  }

  // What the updater goes on with, from the plain description, and from an origin written with its slash.
  const auto verdict = VerifyUpdate({.description = Good(),
                                     .signature = testsupport::Signed(Good(), demoSecret.data()),
                                     .publicKeyHex = testsupport::DemoPublicKeyHex(),
                                     .runningVersion = vextal::kVersionText,
                                     .origin = "http://127.0.0.1:8080/",
                                     .nowUtcSeconds = kNow});
  const VerifiedUpdate& update = std::get<VerifiedUpdate>(verdict);
  EXPECT_EQ(update.description.version, "3.2");
  EXPECT_EQ(update.description.installerPath, kInstaller);
  EXPECT_EQ(update.installerUrl, std::string(kOrigin) + kInstaller);
  EXPECT_EQ(update.description.size, 48211456U);
  EXPECT_EQ(update.description.sha256, kSha);
  EXPECT_EQ(update.description.expiresUtcSeconds, kExpiresSeconds);
  // The writer's text is the reader's.
  EXPECT_EQ(DescriptionText(update.description), Good());

  // Without a server to stand on, no path is on it.
  const auto nowhere = VerifyUpdate({.description = Good(),
                                     .signature = testsupport::Signed(Good(), demoSecret.data()),
                                     .publicKeyHex = testsupport::DemoPublicKeyHex(),
                                     .runningVersion = vextal::kVersionText,
                                     .origin = "",
                                     .nowUtcSeconds = kNow});
  EXPECT_EQ(std::get<Refusal>(nowhere), Refusal::kInstallerElsewhere);
}

// A description is believed until its date, and never for a version below one verified before; both only once its
// signature and lines hold, and before the version is compared with the running one.
TEST(VerifyUpdate, RefusesAnExpiredDescriptionAndARollback) {
  struct Case {
    const char* label;
    std::string description;
    std::int64_t now;
    const char* highest;
    std::optional<Refusal> expected;  // nothing: verified
  };
  const std::optional<Refusal> kVerified;
  const std::string older = Description("3.0", kInstaller, "1", kSha);
  const std::vector<Case> cases = {
      {"a second before its date", Good(), kExpiresSeconds - 1, "", kVerified},
      {"at its date", Good(), kExpiresSeconds, "", Refusal::kExpired},
      {"after its date", Good(), kExpiresSeconds + 1, "", Refusal::kExpired},
      {"no expiry", "version=3.2\ninstaller=/a.exe\nsize=1\nsha256=" + std::string(kSha) + "\n", kNow, "",
       Refusal::kMalformed},
      {"expiry not a moment", Description("3.2", kInstaller, "1", kSha, "", "2027-01-08"), kNow, "",
       Refusal::kMalformed},
      {"expiry twice", Good("expires=2099-01-01T00:00:00Z\n"), kNow, "", Refusal::kMalformed},
      {"a broken line before the date", Good("x\n"), kExpiresSeconds, "", Refusal::kMalformed},
      {"expired and not newer", Description("3.1", kInstaller, "1", kSha), kExpiresSeconds, "", Refusal::kExpired},
      {"expired and rolled back", older, kExpiresSeconds, "3.2", Refusal::kExpired},
      {"below the highest verified", Good(), kNow, "3.3", Refusal::kRolledBack},
      {"the highest verified again", Good(), kNow, "3.2", kVerified},
      {"3.2 is the highest 3.2.0", Good(), kNow, "3.2.0", kVerified},
      {"above the highest verified", Good(), kNow, "3.1.9", kVerified},
      {"rolled back and not newer", older, kNow, "3.2", Refusal::kRolledBack},
      {"rolled back, installer elsewhere", Description("3.0", "//evil.example/x.exe", "1", kSha), kNow, "3.2",
       Refusal::kRolledBack},
      {"highest verified not a version", Good(), kNow, "3.2 beta", Refusal::kRolledBack},
  };
  const std::string secret = testsupport::DemoSecretKey();
  for (const Case& c : cases) {
    const auto verdict = VerifyUpdate({.description = c.description,
                                       .signature = testsupport::Signed(c.description, secret.data()),
                                       .publicKeyHex = testsupport::DemoPublicKeyHex(),
                                       .runningVersion = "3.1",
                                       .origin = kOrigin,
                                       .nowUtcSeconds = c.now,
                                       .highestVerified = c.highest});
    EXPECT_EQ(RefusalOf(verdict), c.expected) << c.label;
  }

  // Nothing in an unsigned description counts, its date included.
  const auto tampered = VerifyUpdate({.description = Good(),
                                      .signature = testsupport::Signed(Good() + "\n", secret.data()),
                                      .publicKeyHex = testsupport::DemoPublicKeyHex(),
                                      .runningVersion = "3.1",
                                      .origin = kOrigin,
                                      .nowUtcSeconds = kExpiresSeconds,
                                      .highestVerified = "9"});
  EXPECT_EQ(RefusalOf(tampered), Refusal::kBadSignature);
}

TEST(UtcTime, ReadsOnlyTheOneFormAndWritesItBack) {
  struct Case {
    const char* text;
    std::optional<std::int64_t> expected;  // nothing: not a moment
  };
  const std::optional<std::int64_t> kNotAMoment;
  const std::vector<Case> cases = {
      {"1970-01-01T00:00:00Z", 0},
      {"2027-01-08T00:00:00Z", kExpiresSeconds},
      {"2027-01-08T23:59:59Z", kExpiresSeconds + 24 * 60 * 60 - 1},
      {"2028-02-29T12:30:05Z", 1835440205},
      {"2000-02-29T00:00:00Z", 951782400},
      {"1969-12-31T23:59:59Z", -1},
      {"0000-01-01T00:00:00Z", kEarliestUtcSeconds},
      {"9999-12-31T23:59:59Z", kLatestUtcSeconds},
      {"2027-02-29T00:00:00Z", kNotAMoment},
      {"1900-02-29T00:00:00Z", kNotAMoment},
      {"2027-04-31T00:00:00Z", kNotAMoment},
      {"2027-13-01T00:00:00Z", kNotAMoment},
      {"2027-01-00T00:00:00Z", kNotAMoment},
      {"2027-01-08T24:00:00Z", kNotAMoment},
      {"2027-01-08T00:60:00Z", kNotAMoment},
      {"2027-01-08T00:00:60Z", kNotAMoment},
      {"2027-01-08", kNotAMoment},
      {"2027-01-08T00:00:00", kNotAMoment},
      {"2027-01-08t00:00:00z", kNotAMoment},
      {"2027-01-08 00:00:00Z", kNotAMoment},
      {"2027-01-08T00:00:00+08:00", kNotAMoment},
      {"2027-01-08T00:00:00.5Z", kNotAMoment},
      {" 2027-01-08T00:00:00Z", kNotAMoment},
      {"2027-01-08T00:00:00Z ", kNotAMoment},
      {"2027-1-08T00:00:00Z", kNotAMoment},
      {"", kNotAMoment},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseUtcTime(c.text), c.expected) << c.text;
    if (c.expected) {
      EXPECT_EQ(UtcTimeText(*c.expected), c.text);
    }
  }
  EXPECT_EQ(UtcTimeText(kLatestUtcSeconds + 1), "9999-12-31T23:59:59Z");
  EXPECT_EQ(UtcTimeText(kEarliestUtcSeconds - 1), "0000-01-01T00:00:00Z");
}

TEST(RefusalText, TellsTheUserNothingWasInstalled) {
  const std::string handInstall = std::string("这个版本的程序不能自动升级，没有安装任何东西。请到 ") +
                                  vextal::kPublisherUrl + " 下载新版本，手动安装。";
  const std::vector<std::pair<Refusal, std::string>> cases = {
      {Refusal::kNoPublisherKey, handInstall},
      {Refusal::kCryptoUnavailable, "无法检查升级信息的签名，没有安装任何东西。"},
      {Refusal::kBadSignature, "升级信息的签名不对，没有安装任何东西。"},
      {Refusal::kMalformed, "升级信息的格式不对，没有安装任何东西。"},
      {Refusal::kExpired, "升级信息已经过期，没有安装任何东西。电脑的日期不对也会这样，请检查电脑的日期。"},
      {Refusal::kRolledBack, "服务器上的版本比这台电脑以前验证过的版本旧，没有安装任何东西。"},
      {Refusal::kNotNewer, "服务器上的版本不比现在的新，没有安装任何东西。"},
      {Refusal::kInstallerElsewhere, "升级信息指向升级服务器以外的安装程序，没有安装任何东西。"},
      {Refusal::kBadSize, "升级信息里的安装程序大小不对，没有安装任何东西。"},
      {Refusal::kBadSha256, "升级信息里的安装程序校验值不对，没有安装任何东西。"},
  };
  for (const auto& [refusal, text] : cases) {
    EXPECT_EQ(RefusalText(refusal), text);
  }
}

TEST(CompareVersions, ComparesDottedNumbersAsNumbers) {
  struct Case {
    const char* a;
    const char* b;
    std::optional<std::strong_ordering> expected;  // nothing: either is not a version
  };
  const std::optional<std::strong_ordering> kNotVersions;
  const std::vector<Case> cases = {
      {"3.2", "3.1", std::strong_ordering::greater},
      {"3.10", "3.9", std::strong_ordering::greater},
      {"3.1", "3.1", std::strong_ordering::equal},
      {"3.1.0", "3.1", std::strong_ordering::equal},
      {"3.1", "3.1.0.0", std::strong_ordering::equal},
      {"3.1.1", "3.1", std::strong_ordering::greater},
      {"3", "3.0.1", std::strong_ordering::less},
      {"10.0", "9.99", std::strong_ordering::greater},
      {"0", "0", std::strong_ordering::equal},
      {"999999999", "1", std::strong_ordering::greater},
      {"4294967296", "1", kNotVersions},  // ten digits
      {"3.01", "3.1", kNotVersions},
      {"", "3.1", kNotVersions},
      {"3.", "3.1", kNotVersions},
      {".3", "3.1", kNotVersions},
      {"3..1", "3.1", kNotVersions},
      {"3.1 ", "3.1", kNotVersions},
      {"3.1\n", "3.1", kNotVersions},
      {"+3.1", "3.1", kNotVersions},
      {"-3.1", "3.1", kNotVersions},
      {"v3.1", "3.1", kNotVersions},
      {"3.1", "3,1", kNotVersions},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareVersions(c.a, c.b), c.expected) << '"' << c.a << "\" against \"" << c.b << '"';
  }
}

TEST(IsServerPath, TakesOnlyAFileBelowTheServersRoot) {
  struct Case {
    std::string path;
    bool expected;
  };
  const std::vector<Case> cases = {
      {"/updates/vextal-setup-3.2.exe", true},
      {"/setup.exe", true},
      {"/a/b_c/d~e/f.tar.gz", true},
      {"/updates/%E5%8D%87%E7%BA%A7.exe", true},
      {"/updates/.hidden", true},
      {"/x..exe", true},
      {"", false},
      {"/", false},
      {"/updates/", false},
      {"updates/x.exe", false},
      {"//evil.example/x.exe", false},
      {"/updates//x.exe", false},
      {"http://evil.example/x.exe", false},
      {"/http://evil.example/x.exe", false},
      {"\\\\evil\\share\\x.exe", false},
      {"/updates\\x.exe", false},
      {"/updates/../x.exe", false},
      {"/..", false},
      {"/updates/./x.exe", false},
      {"/updates/.../x.exe", false},
      {"/updates/%2e%2e/x.exe", false},
      {"/updates/%2E%2E/x.exe", false},
      {"/updates/.%2e/x.exe", false},
      {"/updates%2f..%2fx.exe", false},
      {"/updates%5cx.exe", false},
      {"/x.exe%00.txt", false},
      {"/x%0d%0aHost:%20evil", false},
      {"/x%252e", false},
      {"/x%2", false},
      {"/x%zz", false},
      {"/x.exe?y=1", false},
      {"/x.exe#frag", false},
      {"/x y.exe", false},
      {"/x@evil.exe", false},
      {"/C:/x.exe", false},
      {"/\xE5\x8D\x87.exe", false},
      {"/" + std::string(1023, 'a'), true},
      {"/" + std::string(1024, 'a'), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsServerPath(c.path), c.expected) << c.path;
  }
}

}  // namespace
}  // namespace updater
