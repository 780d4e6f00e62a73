// qmhid-decode on recordings of real digitizers, with expected output worked out by hand from
// the descriptors' layouts.
#include "decode/DecodeTool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace qm {
namespace {

const std::string kFixtures = QMHID_FIXTURES_DIR;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct FixtureCase {
    const char* name;
    std::vector<std::string> options;
    const char* recording;
    const char* expected;
};

const FixtureCase kFixtureCases[] = {
    {"atmel_pen_pressure_barrel", {}, "atmel_03eb_840b.hidrec", "atmel_03eb_840b.expected.jsonl"},
    {"egalax_stylus_collection_rotated",
     {"--collection", "3", "--rotation", "90"},
     "egalax_0eef_7224.hidrec",
     "egalax_0eef_7224.col3.rot90.expected.jsonl"},
};

class DecodeFixture : public testing::TestWithParam<FixtureCase> {};

TEST_P(DecodeFixture, PrintsTheExpectedSamples) {
    const FixtureCase& c = GetParam();
    std::vector<std::string> args = c.options;
    args.push_back(kFixtures + "/" + c.recording);
    std::ostringstream out, err;
    EXPECT_EQ(RunDecodeTool(args, out, err), 0) << err.str();
    EXPECT_EQ(out.str(), ReadFile(kFixtures + "/" + c.expected));
}

INSTANTIATE_TEST_SUITE_P(Recordings, DecodeFixture, testing::ValuesIn(kFixtureCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(DecodeTool, ChoosesTheFirstDigitizerWhenThereIsNoPen) {
    std::ostringstream out, err;
    ASSERT_EQ(RunDecodeTool({kFixtures + "/egalax_0eef_7224.hidrec"}, out, err), 0);
    EXPECT_EQ(out.str().substr(0, out.str().find('\n')),
              "{\"usagePage\":13,\"usage\":4,\"inputReportByteLength\":6,\"inputButtonCaps\":3,"
              "\"inputValueCaps\":3,\"xMax\":32767,\"yMax\":32767,\"pressureMax\":0}");
}

TEST(DecodeTool, CalibrationMapsWithStateCarriedOver) {
    std::ostringstream out, err;
    ASSERT_EQ(
        RunDecodeTool({"--calibration", "0,0,4096,4096", kFixtures + "/atmel_03eb_840b.hidrec"},
                      out, err),
        0);
    std::istringstream lines(out.str());
    std::string line;
    std::getline(lines, line);  // the device
    std::getline(lines, line);
    EXPECT_NE(line.find("\"dx\":32767,\"dy\":16383,\"flags\":49153"), std::string::npos) << line;
    std::getline(lines, line);  // tip goes down while moving
    EXPECT_NE(line.find("\"flags\":49155"), std::string::npos) << line;
}

struct BadInput {
    const char* name;
    const char* text;
    const char* error;
};

const BadInput kBadInputs[] = {
    {"no_descriptor", "N: x\n", "no report descriptor"},
    {"count_mismatch", "R: 3 05 0d\n", "line 1: R: byte count 3 but 2 bytes"},
    {"bad_hex", "R: 2 05 zz\n", "line 1: R: bad byte 'zz'"},
    {"report_before_descriptor", "E: 000000.000000 1 01\nR: 1 c0\n", "line 1: E:"},
    {"bad_timestamp", "R: 2 05 0d\nE: 12 1 00\n", "line 2: E: bad timestamp"},
    {"malformed_descriptor", "N: x\nR: 2 05 0d\n", "line 2: report descriptor byte"},
    {"second_descriptor", "R: 1 c0\nR: 1 c0\n", "line 2: a second report descriptor"},
};

class DecodeBadInput : public testing::TestWithParam<BadInput> {};

TEST_P(DecodeBadInput, OneLineErrorAndStatus2) {
    const BadInput& b = GetParam();
    const std::string path = testing::TempDir() + "/bad_" + b.name + ".hidrec";
    std::ofstream(path) << b.text;
    std::ostringstream out, err;
    EXPECT_EQ(RunDecodeTool({path}, out, err), 2);
    const std::string text = err.str();
    EXPECT_NE(text.find(b.error), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Cases, DecodeBadInput, testing::ValuesIn(kBadInputs),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(DecodeTool, BadOptionsAndMissingFile) {
    std::ostringstream out, err;
    EXPECT_EQ(RunDecodeTool({}, out, err), 2);
    EXPECT_EQ(RunDecodeTool({"--rotation", "45", "x"}, out, err), 2);
    EXPECT_EQ(RunDecodeTool({"--calibration", "1,2,3", "x"}, out, err), 2);
    EXPECT_EQ(RunDecodeTool({"/nonexistent/file.hidrec"}, out, err), 2);
    EXPECT_EQ(RunDecodeTool({"--collection", "9", kFixtures + "/atmel_03eb_840b.hidrec"}, out, err),
              2);
}

}  // namespace
}  // namespace qm
