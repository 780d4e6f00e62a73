// The Windows test programs are googletest programs that ctest runs under Wine. Their own
// arguments (paths of the binaries under test, fixtures) follow googletest's flags and are
// read here. WineTestMain.cpp is the usual main; a program with a mode of its own calls
// RunTests from its own.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

namespace winetest {

// The program's own arguments after googletest took its flags: Arg(1) is the first.
size_t ArgCount();
const char* Arg(size_t i);
// Starts a program with arguments; its process handle, null when it did not start.
void* StartProgram(const std::string& exe, const std::string& args);
// Initialises googletest, keeps the remaining arguments and runs every test.
int RunTests(int argc, char** argv);

}  // namespace winetest

// A test that needs n arguments of the program's own stops at once without them.
#define WINETEST_NEEDS_ARGS(n, usage) \
    ASSERT_GT(::winetest::ArgCount(), static_cast<size_t>(n)) << "usage: " << (usage)
