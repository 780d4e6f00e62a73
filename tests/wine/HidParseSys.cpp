#include "tests/wine/HidParseSys.h"

#include <windows.h>

#include <cstdio>
#include <new>

#include "hid/HidDescriptor.h"
#include "platform/win32/HidBackend.h"

namespace qm::test {

namespace {

// The driver kit's structures, declared after Microsoft's documentation of hidpddi.h.
struct HidpReportIds {
    UCHAR reportId;
    UCHAR collectionNumber;
    USHORT inputLength;
    USHORT outputLength;
    USHORT featureLength;
};
struct HidpCollectionDesc {
    USHORT usagePage;
    USHORT usage;
    UCHAR collectionNumber;
    UCHAR reserved[15];
    USHORT inputLength;
    USHORT outputLength;
    USHORT featureLength;
    USHORT preparsedDataLength;
    void* preparsedData;
};
struct HidpGetColDescDbg {
    ULONG breakOffset;
    ULONG errorCode;
    ULONG args[6];
};
struct HidpDeviceDesc {
    HidpCollectionDesc* collectionDesc;
    ULONG collectionDescLength;
    HidpReportIds* reportIds;
    ULONG reportIdsLength;
    HidpGetColDescDbg dbg;
};

using GetCollectionDescription = LONG(NTAPI*)(const UCHAR*, ULONG, int, HidpDeviceDesc*);
using FreeCollectionDescription = VOID(NTAPI*)(HidpDeviceDesc*);

constexpr LONG kHidpStatusSuccess = 0x00110000;

struct Driver {
    Driver() {
        module = LoadLibraryA("C:\\windows\\system32\\drivers\\hidparse.sys");
        if (module != nullptr) {
            get = reinterpret_cast<GetCollectionDescription>(
                reinterpret_cast<void*>(GetProcAddress(module, "HidP_GetCollectionDescription")));
            free = reinterpret_cast<FreeCollectionDescription>(
                reinterpret_cast<void*>(GetProcAddress(module, "HidP_FreeCollectionDescription")));
        }
    }
    HMODULE module = nullptr;
    GetCollectionDescription get = nullptr;
    FreeCollectionDescription free = nullptr;
};

Driver& TheDriver() {
    static Driver driver;
    return driver;
}

void Release(void* p) {
    auto* desc = static_cast<HidpDeviceDesc*>(p);
    TheDriver().free(desc);
    delete desc;
}

}  // namespace

std::unique_ptr<IHidReportParser> WindowsParserOf(const std::vector<uint8_t>& descriptor,
                                                  std::string& error) {
    Driver& d = TheDriver();
    if (d.get == nullptr || d.free == nullptr) {
        error = "hidparse.sys cannot be loaded";
        return nullptr;
    }
    auto* desc = new (std::nothrow) HidpDeviceDesc{};
    if (desc == nullptr) {
        error = "out of memory";
        return nullptr;
    }
    const LONG s = d.get(descriptor.data(), static_cast<ULONG>(descriptor.size()), 0, desc);
    if (s != kHidpStatusSuccess || desc->collectionDescLength < 1) {
        char text[96];
        std::snprintf(
            text, sizeof text, "HidP_GetCollectionDescription: 0x%08lX, %lu collection(s)",
            static_cast<unsigned long>(s), static_cast<unsigned long>(desc->collectionDescLength));
        error = text;
        if (s == kHidpStatusSuccess)
            d.free(desc);
        delete desc;
        return nullptr;
    }
    return MakeWin32HidParser(desc->collectionDesc[0].preparsedData, &Release, desc);
}

std::unique_ptr<IHidReportParser> WindowsParserOfCollection(const std::vector<uint8_t>& descriptor,
                                                            size_t collection, std::string& error) {
    const auto pieces = SplitTopLevelCollections(descriptor.data(), descriptor.size());
    if (collection >= pieces.size()) {
        error = "no such top-level collection";
        return nullptr;
    }
    return WindowsParserOf(pieces[collection], error);
}

}  // namespace qm::test
