// qmhid-decode.exe: the decode tool on Windows' own HID parser (hidparse.sys under Wine), with
// the options and the JSON Lines of qmhid-decode.
#include <iostream>

#include "decode/DecodeTool.h"
#include "tests/wine/HidParseSys.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    std::vector<std::string> args(argv + 1, argv + argc);
    return qm::RunDecodeTool(args, std::cout, std::cerr, &qm::test::WindowsParserOfCollection);
}
