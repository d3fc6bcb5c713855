#include <iostream>
#include <string>
#include <vector>

#include "HelperCommandLine.h"
#include "HelperPlatform.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    tessaly::HelperPlatform::SystemLog log;
    tessaly::HelperCommandLine commandLine(log, std::cout, std::cerr);
    return commandLine.run(arguments);
}
