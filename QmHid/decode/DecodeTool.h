// qmhid-decode: decodes a hid-recorder recording as the service's pen decoder sees it and
// prints JSON Lines.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>
#include <cstdint>

namespace qm {

class IHidReportParser;

// Where the parser of one top-level collection comes from: null for the project's own parser;
// the Windows test build gives the Windows parser of that collection's own descriptor. Null
// with error set when it cannot be had.
using DecodeParserSource = std::unique_ptr<IHidReportParser> (*)(
    const std::vector<uint8_t>& descriptor, size_t collection, std::string& error);

// args: the options and the recording's path (no program name). Returns the exit status:
// 0, or 2 with one line on err.
int RunDecodeTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                  DecodeParserSource source = nullptr);

}  // namespace qm
