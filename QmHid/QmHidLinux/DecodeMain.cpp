// qmhid-decode RECORDING: prints the pen samples of a hid-recorder recording as JSON Lines.
#include <iostream>

#include "decode/DecodeTool.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    std::vector<std::string> args(argv + 1, argv + argc);
    return qm::RunDecodeTool(args, std::cout, std::cerr);
}
