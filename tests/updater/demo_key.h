#pragma once

#include <string>
#include <string_view>

// The demo key pair of tools/update-sign/demo-key, which the tests sign their descriptions with as the publisher does.
namespace testsupport {

// libsodium's 64-byte secret key.
std::string DemoSecretKey();
// 64 hex digits, as a build carries it.
std::string DemoPublicKeyHex();
// The signature text for these bytes with a 64-byte secret key, as update-sign writes it.
std::string Signed(std::string_view bytes, const char* secretKey);

}  // namespace testsupport
