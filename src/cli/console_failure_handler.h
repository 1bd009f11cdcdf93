#pragma once

#include "support/fail.h"

namespace zq::cli {

// Reports contract failures on standard error on every platform and lets the program go on.
class ConsoleFailureHandler : public FailureHandler {
protected:
    void onFailure() override;
};

}  // namespace zq::cli
