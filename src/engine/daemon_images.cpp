#include "engine/daemon_images.h"

#include "image/image_reader.h"
#include "support/fail.h"

namespace zq {

const std::array<DaemonImage, kDaemonImageCount>& daemonImages() {
    static const std::array<DaemonImage, kDaemonImageCount> images = {{
        {"XC167 carrier boards (QB5 + dualBridge)", "OMF-166", kOmfEntrySymbol,
         kDaemonImageFiles[0]},
        {"XC167 module boards (KRMB)", "OMF-166", kOmfEntrySymbol, kDaemonImageFiles[1]},
        {"MPC8270 boards (CM61/CM62)", "ELF", kElfEntrySymbol, kDaemonImageFiles[2]},
        {"MPC5554 board (KRMC)", "ELF", kElfEntrySymbol, kDaemonImageFiles[3]},
    }};
    return images;
}

std::size_t daemonIndexFor(PlId plID) {
    const PlId variant = plID & ~kFamilyMask;
    switch (familyOf(plID)) {
        case kFamilyXc167:
            if (variant == 0x001 || variant == 0x002) return 0;
            if (variant == 0x100 || variant == 0x200) return 1;
            break;
        case kFamilyMpc8270:
            return 2;
        case kFamilyMpc5554:
            return 3;
        default:
            break;
    }
    require(false, "daemon for plID");
    return kNoDaemon;
}

}  // namespace zq
