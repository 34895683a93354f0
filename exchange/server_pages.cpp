#include "exchange/server_pages.h"

#include "vextal_config.h"

namespace exchange {

bool IsThisVersion(std::string_view versionAnswer) { return versionAnswer == vextal::kVersionText; }

}  // namespace exchange
