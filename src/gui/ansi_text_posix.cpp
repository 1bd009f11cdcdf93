#include "gui/ansi_text.h"
#include "support/text.h"

namespace zq {

std::string ansiToUtf8(std::string_view bytes) {
    if (isValidUtf8(bytes)) return std::string(bytes);
    return windows1250ToUtf8(bytes);
}

}  // namespace zq
