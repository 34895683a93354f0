#include "tests/updater/demo_key.h"

#include "net/http_text.h"
#include "updater/update_description.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::string ReadKeyFile(const char* name) {
  std::ifstream in(std::string(VEXTAL_DEMO_KEY_DIR) + "/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) throw std::runtime_error(std::string("cannot read the demo key file ") + name);
  return net::TrimBlanks(text.str());
}

}  // namespace

std::string testsupport::DemoSecretKey() {
  const auto key = updater::SecretKeyOfText(ReadKeyFile("update-secret.hex"));
  if (!key) throw std::runtime_error("the demo secret key is not 128 hex digits");
  return *key;
}

std::string testsupport::DemoPublicKeyHex() { return ReadKeyFile("update-public.hex"); }

std::string testsupport::Signed(std::string_view bytes, const char* secretKey) {
  const auto signature = updater::SignDescription(bytes, std::string_view(secretKey, updater::kSecretKeyBytes));
  if (!signature) throw std::runtime_error("the description could not be signed");
  return *signature;
}
