// HID devices made of data: a report descriptor, strings, and reports fed by a test or a
// recording. Each top-level collection of the descriptor is a device interface of its own, as
// on Windows. A device can fail reads, vanish, stall its reads and refuse its preparsed data.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hid/HidDescriptor.h"
#include "platform/Hid.h"
#include "platform/Sync.h"

namespace qm {

class VirtualHidFile;

class VirtualHidDevice {
public:
    VirtualHidDevice(std::string path, HidCollection collection);
    ~VirtualHidDevice();
    VirtualHidDevice(const VirtualHidDevice&) = delete;
    VirtualHidDevice& operator=(const VirtualHidDevice&) = delete;

    // One device per top-level collection, with paths basePath + "&col01", "&col02", ... (just
    // basePath for a descriptor with one collection). Empty, with *error set, for a malformed
    // descriptor.
    static std::vector<std::shared_ptr<VirtualHidDevice>> FromDescriptor(
        const std::string& basePath, const std::vector<uint8_t>& descriptor, std::string* error);

    const std::string& Path() const { return path_; }
    const HidCollection& Collection() const { return collection_; }

    // A string that is absent cannot be read.
    void SetString(HidStringKind kind, std::optional<std::u16string> value);
    // A report as a Windows read returns it: report ID first (0 without report IDs). Reports of
    // another collection and reports of the wrong length are not delivered. Each open file
    // keeps up to 32 unread reports, dropping the oldest, as the HID class driver does.
    bool Feed(const uint8_t* report, size_t length);
    // A report as hidraw returns it: without the leading zero byte when there are no IDs.
    bool FeedHidraw(const uint8_t* data, size_t length);
    void SetFailReads(bool fail);
    // Unplugged: opens and reads fail, a pending read ends without a report.
    void Vanish();
    bool Vanished();
    // Every read call blocks this long before it starts.
    void SetReadStall(uint32_t ms);
    void SetFailPreparsedData(bool fail);
    // Where the preparsed data comes from: by default a copy of the collection; the Windows
    // tests give Windows' own parser of the same collection.
    void SetParserSource(std::function<std::unique_ptr<IHidReportParser>()> source);
    size_t OpenFiles();
    size_t ReadsStarted();

private:
    friend class VirtualHidFile;
    void Attach(VirtualHidFile* file);
    void Detach(VirtualHidFile* file);

    const std::string path_;
    const HidCollection collection_;
    Mutex lock_;  // guards everything below and the open files' queues and pending reads
    std::vector<VirtualHidFile*> files_;
    std::optional<std::u16string> strings_[3];
    bool failReads_ = false;
    bool vanished_ = false;
    bool failPreparsed_ = false;
    std::function<std::unique_ptr<IHidReportParser>()> parserSource_;
    uint32_t stallMs_ = 0;
    size_t readsStarted_ = 0;
};

// Opens the virtual devices it holds by path, compared case-insensitively.
class VirtualHidBackend final : public IHidBackend {
public:
    void Add(std::shared_ptr<VirtualHidDevice> device);
    void Remove(const std::string& path);
    std::shared_ptr<VirtualHidDevice> Find(const std::string& path);
    // The paths present, in the order they were added.
    std::vector<std::string> Paths();
    std::unique_ptr<IHidFile> Open(const char* path, HidOpenMode mode) override;

private:
    Mutex lock_;
    std::vector<std::shared_ptr<VirtualHidDevice>> devices_;  // guarded by lock_
};

}  // namespace qm
