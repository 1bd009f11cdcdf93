#include "image/ppc_images.h"

#include <gtest/gtest.h>

namespace zq::testing {

const PpcImage& ppcImage(std::string_view name) {
    for (const PpcImage& image : ppcImages())
        if (image.name == name) return image;
    ADD_FAILURE() << "no PowerPC test image " << name;
    static const PpcImage none;
    return none;
}

}  // namespace zq::testing
