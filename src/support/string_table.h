#pragma once

#include <string>

namespace zq {

// Operator texts by string-table id (104 to 137), UTF-8. An id without a text gives "".
const char* loadString(unsigned id);

// The text of id used as a printf-style format with the further arguments.
std::string formatString(unsigned id, ...);

}  // namespace zq
