#include "gui/app_version.h"

namespace zq {

const char* programVersion() {
    return kVersionTag + 2;
}

}  // namespace zq
