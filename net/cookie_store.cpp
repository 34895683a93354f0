#include "net/cookie_store.h"

namespace net {

CookieStore::CookieStore() = default;
CookieStore::~CookieStore() = default;

void CookieStore::StoreFromHead(const std::vector<std::string>&, const std::string&, const std::string&) {}

std::string CookieStore::CookieHeaderFor(const std::string&, const std::string&) { return {}; }

}  // namespace net
