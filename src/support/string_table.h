#pragma once

#include <string>

#include "support/string_ids.h"

namespace zq {

// Operator texts by string-table id (a StringId), UTF-8. An id without a text gives "".
const char* loadString(unsigned id);

// The text of id used as a printf-style format with the further arguments.
std::string formatString(unsigned id, ...);

}  // namespace zq
