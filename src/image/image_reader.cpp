#include "image/image_reader.h"

#include "image/elf_image_reader.h"
#include "image/omf_image_reader.h"

namespace zq {

std::unique_ptr<ImageReader> createImageReader(std::uint32_t plID) {
    switch (platformFamily(plID)) {
        case 0x1:
            return std::make_unique<OmfImageReader>();
        case 0x2:
        case 0x3:
            return std::make_unique<ElfImageReader>();
        default:
            return nullptr;
    }
}

}  // namespace zq
