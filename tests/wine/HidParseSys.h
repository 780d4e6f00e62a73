// Windows' own HID parser without a device, for tests: the parser driver hidparse.sys loaded
// into the process, its HidP_GetCollectionDescription run on one top-level collection's own
// descriptor, and the production parser over the preparsed data it makes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Hid.h"

namespace qm::test {

// The parser of a descriptor that holds one top-level collection; null with error set.
std::unique_ptr<IHidReportParser> WindowsParserOf(const std::vector<uint8_t>& descriptor,
                                                  std::string& error);

// The parser of top-level collection `collection` of a whole descriptor, split as Windows
// presents it: one device per top-level collection.
std::unique_ptr<IHidReportParser> WindowsParserOfCollection(const std::vector<uint8_t>& descriptor,
                                                            size_t collection, std::string& error);

}  // namespace qm::test
