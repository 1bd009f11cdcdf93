#include "fuzz/image_walk.h"
#include "image/elf_image_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zq::ElfImageReader reader;
    zq::fuzz::fuzzReader(reader, data, size);
    return 0;
}
