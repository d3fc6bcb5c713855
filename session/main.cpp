#include <iostream>
#include <string>
#include <vector>

#include "SessionCommandLine.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    tessaly::SessionCommandLine commandLine(std::cout, std::cerr);
    return commandLine.run(arguments);
}
