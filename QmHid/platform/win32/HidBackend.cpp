#include "platform/win32/HidBackend.h"

#include <windows.h>
// clang-format off
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}
// clang-format on

#include <new>
#include <memory>

namespace qm {

namespace {

static_assert(sizeof(UsageAndPage) == sizeof(USAGE_AND_PAGE));
static_assert(offsetof(USAGE_AND_PAGE, Usage) == 0 && offsetof(USAGE_AND_PAGE, UsagePage) == 2);

HidStatus Status(NTSTATUS s) {
    return static_cast<HidStatus>(static_cast<uint32_t>(s));
}

class Win32HidParser final : public IHidReportParser {
public:
    Win32HidParser(PHIDP_PREPARSED_DATA data, void (*release)(void*), void* context)
        : data_(data), release_(release), context_(context) {}
    ~Win32HidParser() override {
        if (release_ != nullptr) {
            release_(context_);
        } else {
            HidD_FreePreparsedData(data_);
        }
    }

    HidStatus GetCaps(HidCaps& out) const override {
        HIDP_CAPS caps{};
        const NTSTATUS s = HidP_GetCaps(data_, &caps);
        out = HidCaps{};
        out.usage = caps.Usage;
        out.usagePage = caps.UsagePage;
        out.inputReportByteLength = caps.InputReportByteLength;
        out.outputReportByteLength = caps.OutputReportByteLength;
        out.featureReportByteLength = caps.FeatureReportByteLength;
        out.numberInputButtonCaps = caps.NumberInputButtonCaps;
        out.numberInputValueCaps = caps.NumberInputValueCaps;
        return Status(s);
    }

    HidStatus GetSpecificValueCaps(uint16_t usagePage, uint16_t usage, HidValueCaps* out,
                                   uint16_t& count) const override {
        // Asked at construction only, so the records' own array may be allocated here; without
        // memory the query fails as the system's does when it has none.
        std::unique_ptr<HIDP_VALUE_CAPS[]> caps(new (std::nothrow)
                                                    HIDP_VALUE_CAPS[count == 0 ? 1 : count]);
        if (caps == nullptr) {
            count = 0;
            return HidStatus::InsufficientResources;
        }
        USHORT length = count;
        const NTSTATUS s =
            HidP_GetSpecificValueCaps(HidP_Input, usagePage, 0, usage, caps.get(), &length, data_);
        count = 0;
        if (s != HIDP_STATUS_SUCCESS)
            return Status(s);
        for (USHORT i = 0; i < length; ++i) {
            const HIDP_VALUE_CAPS& c = caps[i];
            HidValueCaps& v = out[i];
            v.usagePage = c.UsagePage;
            v.reportId = c.ReportID;
            v.isRange = c.IsRange != 0;
            v.usageMin = c.IsRange ? c.Range.UsageMin : c.NotRange.Usage;
            v.usageMax = c.IsRange ? c.Range.UsageMax : c.NotRange.Usage;
            v.bitSize = c.BitSize;
            v.reportCount = c.ReportCount;
            v.logicalMin = c.LogicalMin;
            v.logicalMax = c.LogicalMax;
            v.physicalMin = c.PhysicalMin;
            v.physicalMax = c.PhysicalMax;
            v.unitExponent = c.UnitsExp;
            v.unit = c.Units;
        }
        count = length;
        return Status(s);
    }

    HidStatus GetUsageValue(uint16_t usagePage, uint16_t usage, uint32_t& value,
                            const uint8_t* report, uint32_t length) const override {
        ULONG v = 0;
        const NTSTATUS s =
            HidP_GetUsageValue(HidP_Input, usagePage, 0, usage, &v, data_,
                               reinterpret_cast<PCHAR>(const_cast<uint8_t*>(report)), length);
        if (s == HIDP_STATUS_SUCCESS)
            value = v;
        return Status(s);
    }

    HidStatus GetUsagesEx(UsageAndPage* list, uint32_t& count, const uint8_t* report,
                          uint32_t length) const override {
        ULONG n = count;
        const NTSTATUS s =
            HidP_GetUsagesEx(HidP_Input, 0, reinterpret_cast<PUSAGE_AND_PAGE>(list), &n, data_,
                             reinterpret_cast<PCHAR>(const_cast<uint8_t*>(report)), length);
        count = n;
        return Status(s);
    }

    bool HasInputButton(uint16_t usagePage, uint16_t usage) const override {
        HIDP_CAPS caps{};
        if (HidP_GetCaps(data_, &caps) != HIDP_STATUS_SUCCESS || caps.NumberInputButtonCaps == 0)
            return false;
        std::unique_ptr<HIDP_BUTTON_CAPS[]> buttons(
            new (std::nothrow) HIDP_BUTTON_CAPS[caps.NumberInputButtonCaps]);
        if (buttons == nullptr)
            return false;
        USHORT length = caps.NumberInputButtonCaps;
        return HidP_GetSpecificButtonCaps(HidP_Input, usagePage, 0, usage, buttons.get(), &length,
                                          data_) == HIDP_STATUS_SUCCESS &&
               length > 0;
    }

private:
    PHIDP_PREPARSED_DATA data_;
    void (*release_)(void*);
    void* context_;
};

class Win32HidFile final : public IHidFile {
public:
    Win32HidFile(HANDLE file, HANDLE readEvent) : file_(file), readEvent_(readEvent) {}
    ~Win32HidFile() override {
        CancelRead();
        CloseHandle(file_);
        if (readEvent_ != nullptr)
            CloseHandle(readEvent_);
    }

    HidReadResult Read(uint8_t* buffer, uint32_t length) override {
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = readEvent_;
        DWORD read = 0;
        if (ReadFile(file_, buffer, length, &read, &overlapped_))
            return HidReadResult::Completed;
        if (GetLastError() == ERROR_IO_PENDING) {
            pending_ = true;
            return HidReadResult::Pending;
        }
        return HidReadResult::Failed;
    }

    HidWait WaitForRead(Event& stop, uint32_t timeoutMs) override {
        HANDLE set[2] = {reinterpret_cast<HANDLE>(stop.NativeHandle()), readEvent_};
        switch (WaitForMultipleObjects(2, set, FALSE, timeoutMs)) {
            case WAIT_OBJECT_0:
                return HidWait::Stop;
            case WAIT_OBJECT_0 + 1: {
                DWORD read = 0;
                pending_ = false;
                // A read that ended with an error (the device went away) holds no report.
                return GetOverlappedResult(file_, &overlapped_, &read, FALSE) ? HidWait::Completed
                                                                              : HidWait::Failed;
            }
            case WAIT_TIMEOUT:
                return HidWait::Timeout;
            default:
                return HidWait::WaitFailed;
        }
    }

    void CancelRead() override {
        if (!pending_)
            return;
        CancelIo(file_);
        // Wait until the cancelled read has really ended: only then may its buffer go.
        DWORD read = 0;
        GetOverlappedResult(file_, &overlapped_, &read, TRUE);
        pending_ = false;
    }

    bool GetString(HidStringKind kind, char16_t* buffer, uint32_t bytes) override {
        switch (kind) {
            case HidStringKind::Manufacturer:
                return HidD_GetManufacturerString(file_, buffer, bytes) != FALSE;
            case HidStringKind::Product:
                return HidD_GetProductString(file_, buffer, bytes) != FALSE;
            default:
                return HidD_GetSerialNumberString(file_, buffer, bytes) != FALSE;
        }
    }

    intptr_t NativeHandle() const override { return reinterpret_cast<intptr_t>(file_); }

    std::unique_ptr<IHidReportParser> GetPreparsedData() override {
        PHIDP_PREPARSED_DATA data = nullptr;
        if (!HidD_GetPreparsedData(file_, &data))
            return nullptr;
        auto parser = std::unique_ptr<Win32HidParser>(new (std::nothrow)
                                                          Win32HidParser(data, nullptr, nullptr));
        if (parser == nullptr) {
            HidD_FreePreparsedData(data);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        }
        return parser;
    }

private:
    HANDLE file_;
    HANDLE readEvent_;
    OVERLAPPED overlapped_{};
    bool pending_ = false;
};

}  // namespace

std::unique_ptr<IHidReportParser> MakeWin32HidParser(void* preparsedData, void (*release)(void*),
                                                     void* context) {
    auto parser = std::unique_ptr<Win32HidParser>(new (std::nothrow) Win32HidParser(
        static_cast<PHIDP_PREPARSED_DATA>(preparsedData), release, context));
    if (parser == nullptr && release != nullptr)
        release(context);
    return parser;
}

std::unique_ptr<IHidFile> Win32HidBackend::Open(const char* path, HidOpenMode mode) {
    const bool reading = mode == HidOpenMode::Reading;
    HANDLE file = CreateFileA(path, GENERIC_READ,
                              reading ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, reading ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    // The read event: auto-reset, not signalled, unnamed.
    HANDLE readEvent = reading ? CreateEventA(nullptr, FALSE, FALSE, nullptr) : nullptr;
    if (reading && readEvent == nullptr) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        SetLastError(error);
        return nullptr;
    }
    auto f = std::unique_ptr<Win32HidFile>(new (std::nothrow) Win32HidFile(file, readEvent));
    if (f == nullptr) {
        CloseHandle(file);
        if (readEvent != nullptr)
            CloseHandle(readEvent);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return f;
}

}  // namespace qm
