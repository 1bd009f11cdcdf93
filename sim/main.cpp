#include <iostream>

#include "sim/serve.h"
#include "sim/sim_options.h"

int main(int argc, char** argv) {
    zq::sim::SimConfig config;
    if (auto code = zq::sim::parseOptions(argc, argv, config, std::cout, std::cerr)) return *code;
    return zq::sim::serve(config, std::cout, std::cerr);
}
