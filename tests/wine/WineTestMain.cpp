#include "tests/wine/WineTest.h"

int main(int argc, char** argv) {
    return winetest::RunTests(argc, argv);
}
