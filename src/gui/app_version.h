#pragma once

namespace zq {

// The version tag that the update check compares; the window and the CLI show it less its
// first two characters ("1.02").
inline constexpr const char* kVersionTag = "v_1.02";

const char* programVersion();

}  // namespace zq
