#include <array>
#include <optional>

#include "hid/HidDescriptor.h"
#include "hid/HidItems.h"

namespace qm {

namespace {

constexpr size_t kMaxStack = 16;

struct Span {
    size_t start = 0;
    size_t length = 0;
};
using GlobalState = std::array<std::optional<Span>, hid::kGlobalStateTags>;

}  // namespace

std::vector<std::vector<uint8_t>> SplitTopLevelCollections(const uint8_t* data, size_t length) {
    std::vector<std::vector<uint8_t>> out;
    GlobalState globals;
    std::vector<GlobalState> stack;
    GlobalState atStart;
    size_t depth = 0;
    size_t localsStart = length;  // the first local item since the last main item
    size_t begin = 0;
    hid::ItemReader reader(data, length);
    hid::Item item;
    for (hid::ItemRead r; (r = reader.Next(item)) != hid::ItemRead::End;) {
        if (r == hid::ItemRead::CutShort)
            return {};
        if (item.isLong)
            continue;
        const size_t start = item.offset;
        const size_t end = item.offset + item.length;
        if (item.type == hid::ItemType::Global) {
            if (item.tag < hid::kGlobalStateTags) {
                globals[item.tag] = Span{start, item.length};
            } else if (item.Is(hid::GlobalTag::Push) && stack.size() < kMaxStack) {
                stack.push_back(globals);
            } else if (item.Is(hid::GlobalTag::Pop) && !stack.empty()) {
                globals = stack.back();
                stack.pop_back();
            }
        } else if (item.type == hid::ItemType::Local) {
            if (localsStart == length)
                localsStart = start;
        } else if (item.type == hid::ItemType::Main) {
            if (item.Is(hid::MainTag::Collection)) {
                if (depth == 0) {
                    begin = localsStart != length ? localsStart : start;
                    atStart = globals;
                }
                ++depth;
            } else if (item.Is(hid::MainTag::EndCollection) && depth > 0 && --depth == 0) {
                std::vector<uint8_t> d;
                for (const auto& g : atStart)
                    if (g)
                        d.insert(d.end(), data + g->start, data + g->start + g->length);
                d.insert(d.end(), data + begin, data + end);
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
