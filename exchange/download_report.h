#pragma once

#include "download/tries.h"

#include <string>

namespace exchange {

// What the download strip says when a paper's download gave up (UTF-8): what failed and, when bytes are kept, that
// the next download goes on from them. The network's page in the server's place keeps its own short text.
std::string GiveUpText(const download::TryResult& result);

}  // namespace exchange
