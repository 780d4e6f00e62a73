// qmhid-decode: decodes a hid-recorder recording as the service's pen decoder sees it and
// prints JSON Lines.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qm {

// args: the options and the recording's path (no program name). Returns the exit status:
// 0, or 2 with one line on err.
int RunDecodeTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace qm
