#include <array>
#include <optional>

#include "hid/HidDescriptor.h"

namespace qm {

namespace {

constexpr int kGlobalTags = 10;  // usage page .. report count; push and pop are not state
constexpr int kTagPush = 10;
constexpr int kTagPop = 11;
constexpr int kTagCollection = 0xA;
constexpr int kTagEndCollection = 0xC;
constexpr size_t kMaxStack = 16;

struct Span {
    size_t start = 0;
    size_t length = 0;
};
using GlobalState = std::array<std::optional<Span>, kGlobalTags>;

}  // namespace

std::vector<std::vector<uint8_t>> SplitTopLevelCollections(const uint8_t* data, size_t length) {
    std::vector<std::vector<uint8_t>> out;
    GlobalState globals;
    std::vector<GlobalState> stack;
    GlobalState atStart;
    size_t depth = 0;
    size_t localsStart = length;  // the first local item since the last main item
    size_t begin = 0;
    for (size_t pos = 0; pos < length;) {
        const size_t start = pos;
        const uint8_t prefix = data[pos++];
        if (prefix == 0xFE) {  // long item
            if (length - pos < 2 || length - pos - 2 < data[pos])
                return {};
            pos += 2 + data[pos];
            continue;
        }
        static constexpr size_t kSizes[4] = {0, 1, 2, 4};
        const size_t size = kSizes[prefix & 3];
        if (length - pos < size)
            return {};
        pos += size;
        const int type = (prefix >> 2) & 3;
        const int tag = prefix >> 4;
        if (type == 1) {
            if (tag < kGlobalTags) {
                globals[static_cast<size_t>(tag)] = Span{start, pos - start};
            } else if (tag == kTagPush && stack.size() < kMaxStack) {
                stack.push_back(globals);
            } else if (tag == kTagPop && !stack.empty()) {
                globals = stack.back();
                stack.pop_back();
            }
        } else if (type == 2) {
            if (localsStart == length)
                localsStart = start;
        } else if (type == 0) {
            if (tag == kTagCollection) {
                if (depth == 0) {
                    begin = localsStart != length ? localsStart : start;
                    atStart = globals;
                }
                ++depth;
            } else if (tag == kTagEndCollection && depth > 0 && --depth == 0) {
                std::vector<uint8_t> d;
                for (const auto& g : atStart)
                    if (g)
                        d.insert(d.end(), data + g->start, data + g->start + g->length);
                d.insert(d.end(), data + begin, data + pos);
                out.push_back(std::move(d));
            }
            localsStart = length;
        }
    }
    if (depth != 0)
        return {};
    return out;
}

}  // namespace qm
