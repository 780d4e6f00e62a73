#include "QmHidSrv/HidDevMgr.h"

#include "QmHidSrv/HidDevice.h"

namespace qm {

void CHidDevMgr::AddDevice(CHidDevice* device) {
    LockGuard guard(listLock_);
    device->next = devices_;
    devices_ = device;
}

void CHidDevMgr::RemoveDevice(CHidDevice* device) {
    LockGuard guard(listLock_);
    for (CHidDevice** link = &devices_; *link != nullptr; link = &(*link)->next) {
        if (*link == device) {
            *link = device->next;
            device->next = nullptr;
            break;
        }
    }
    device->handleNotification = 0;
}

bool CHidDevMgr::IsDeviceListed(const CHidDevice* device) {
    LockGuard guard(listLock_);
    for (CHidDevice* d = devices_; d != nullptr; d = d->next)
        if (d == device)
            return true;
    return false;
}

}  // namespace qm
