#include "platform/virtual/Replay.h"

#include <fstream>

#include "hid/HidDescriptor.h"

namespace qm {

std::unique_ptr<ReplayTablet> ReplayTablet::Load(const std::string& file, const std::string& path,
                                                 std::string* error) {
    std::ifstream in(file);
    if (!in) {
        *error = file + ": cannot open";
        return nullptr;
    }
    std::unique_ptr<ReplayTablet> r(new ReplayTablet);
    std::string why;
    if (!ParseHidRecording(in, r->recording_, why)) {
        *error = file + ": " + why;
        return nullptr;
    }
    const auto& d = r->recording_.descriptor;
    HidDescriptorParse parse = ParseReportDescriptor(d.data(), d.size());
    if (!parse.ok) {
        *error = file + ": " + parse.error;
        return nullptr;
    }
    const size_t index = ChoosePenCollection(parse.collections);
    r->device_ = std::make_shared<VirtualHidDevice>(path, std::move(parse.collections[index]));
    std::u16string product;
    for (unsigned char c : r->recording_.name)
        product += static_cast<char16_t>(c);
    r->device_->SetString(HidStringKind::Product, product);
    return r;
}

ReplayTablet::~ReplayTablet() {
    Stop();
}

bool ReplayTablet::Start(bool loop) {
    loop_ = loop;
    stop_.Reset();
    return thread_.Start(&ReplayTablet::Run, this);
}

void ReplayTablet::Stop() {
    stop_.Set();
    thread_.Join(kWaitForever);
}

void ReplayTablet::Run(void* p) {
    auto* self = static_cast<ReplayTablet*>(p);
    const auto& reports = self->recording_.reports;
    do {
        const uint64_t start = MonotonicMs();
        const uint64_t first = reports.empty() ? 0 : reports.front().micros;
        for (const HidRecordedReport& r : reports) {
            const uint64_t due = start + (r.micros >= first ? (r.micros - first) / 1000 : 0);
            const uint64_t now = MonotonicMs();
            if (due > now && self->stop_.Wait(static_cast<uint32_t>(due - now)))
                return;
            if (self->stop_.IsSet())
                return;
            self->device_->FeedHidraw(r.bytes.data(), r.bytes.size());
            ++self->fed_;
        }
        // Between two runs of a loop, a short pause, as a pen lifted and put down again.
    } while (self->loop_ && !self->stop_.Wait(500));
}

}  // namespace qm
