// A small world for the co-installer's decisions: a clock, a version, registry answers, a
// device tree, a service control manager whose services stop late or never, programs, a
// window, files and a mutex. Everything it does is recorded for the tests to look at.
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "QmCoIns2/CoInstallerOs.h"

namespace qm::coins::test {

struct FakeNode {
    FakeNode() = default;
    explicit FakeNode(std::string i) : id(std::move(i)) {}
    std::string id;  // the instance identifier
    bool idReadable = true;
    DevNode parent = 0;
    std::vector<DevNode> children;
    std::string manufacturer;
    bool removable = true;
};

struct FakeService {
    uint32_t state = kServiceRunning;
    int stopAfterPolls = 1;        // polls of the state after the stop request; -1: never
    bool markedForDelete = false;  // deletion answers "marked for delete"
    bool deleteFails = false;
    int goneAfterPolls = 0;  // openings after the deletion that still succeed; -1: never
    bool stopRequested = false;
    bool deleted = false;
    int pollsSinceStop = 0;
    int opensSinceDelete = 0;
};

class FakeCoInstallerOs final : public ICoInstallerOs {
public:
    // Clock and thread state.
    uint32_t now = 1000;
    uint32_t lastError = 0;
    uint32_t TickCount() override { return now; }
    void Sleep(uint32_t ms) override {
        now += ms;
        sleeps.push_back(ms);
        Advance();
    }
    uint32_t LastError() override { return lastError; }
    void SetLastError(uint32_t e) override { lastError = e; }
    std::vector<uint32_t> sleeps;

    // Version and registry.
    bool extendedReadable = true, basicReadable = true, productTypeReadable = true;
    VersionInfo version{kVerPlatformWin32Nt, 6, 1, kVerNtWorkstation};
    int tabletPcRead = -1;  // -1 no key, 0 value unreadable, 1 read
    uint32_t tabletPcValue = 0;
    std::vector<std::vector<uint8_t>> linearityWrites;
    bool ReadVersion(bool extended, VersionInfo& info) override {
        if (extended ? !extendedReadable : !basicReadable)
            return false;
        info = version;
        if (!extended)
            info.productType = 0;
        return true;
    }
    bool ReadProductType() override { return productTypeReadable; }
    int ReadTabletPcInstalled(uint32_t& value) override {
        if (tabletPcRead == 1)
            value = tabletPcValue;
        return tabletPcRead;
    }
    void WriteLinearityValue(const uint8_t* data, size_t size) override {
        linearityWrites.emplace_back(data, data + size);
    }

    // Device tree: node 1 is the root.
    std::map<DevNode, FakeNode> nodes{{1, FakeNode("HTREE\\ROOT\\0")}};
    int idReads = 0;
    std::vector<std::string> removed;
    std::vector<DevNode> reenumerated;
    std::vector<std::string> events;  // the order of identifier reads and removals
    DevNode Add(DevNode parent, const std::string& id) {
        const DevNode n = static_cast<DevNode>(nodes.size() + 1);
        nodes[n] = FakeNode(id);
        nodes[n].parent = parent;
        nodes[parent].children.push_back(n);
        return n;
    }
    bool LocateRoot(DevNode& root) override {
        root = 1;
        return true;
    }
    bool GetParent(DevNode node, DevNode& parent) override {
        auto it = nodes.find(node);
        if (it == nodes.end() || it->second.parent == 0)
            return false;
        parent = it->second.parent;
        return true;
    }
    bool GetChild(DevNode node, DevNode& child) override {
        auto it = nodes.find(node);
        if (it == nodes.end() || it->second.children.empty())
            return false;
        child = it->second.children.front();
        return true;
    }
    bool GetSibling(DevNode node, DevNode& sibling) override {
        auto it = nodes.find(node);
        if (it == nodes.end() || it->second.parent == 0)
            return false;
        const auto& kids = nodes[it->second.parent].children;
        for (size_t i = 0; i + 1 < kids.size(); ++i)
            if (kids[i] == node) {
                sibling = kids[i + 1];
                return true;
            }
        return false;
    }
    bool GetDeviceId(DevNode node, char* buffer, size_t chars) override {
        ++idReads;
        auto it = nodes.find(node);
        if (it == nodes.end() || !it->second.idReadable || it->second.id.size() + 1 > chars)
            return false;
        std::memcpy(buffer, it->second.id.c_str(), it->second.id.size() + 1);
        events.push_back("read " + it->second.id);
        return true;
    }
    bool Reenumerate(DevNode node) override {
        reenumerated.push_back(node);
        return true;
    }
    FakeNode* ById(const char* id) {
        for (auto& [n, node] : nodes)
            if (node.id == id)
                return &node;
        return nullptr;
    }
    bool ReadManufacturer(const char* id, char* buffer, size_t chars) override {
        FakeNode* n = ById(id);
        if (n == nullptr || n->manufacturer.size() + 1 > chars)
            return false;
        std::memcpy(buffer, n->manufacturer.c_str(), n->manufacturer.size() + 1);
        return true;
    }
    bool RemoveDevice(const char* id) override {
        FakeNode* n = ById(id);
        events.push_back(std::string("remove ") + id);
        if (n == nullptr || !n->removable)
            return false;
        removed.emplace_back(id);
        return true;
    }

    // Services. Handles are numbers; every one handed out must be closed.
    bool scmOpens = true;
    uint32_t scmError = 5;
    std::map<std::string, FakeService> services;
    std::map<Handle, std::string> open;
    Handle nextHandle = 100;
    int handlesClosed = 0;
    // "QmHidSrv" started with "/Install": the service appears after this many ms (-1: never),
    // and runs after that many more (-1: never).
    int serviceAppearsAfterMs = 0;
    int serviceRunsAfterMs = 0;
    uint32_t installedAt = 0;
    bool installPending = false;
    Handle OpenServiceManager() override {
        if (!scmOpens) {
            lastError = scmError;
            return 0;
        }
        open[nextHandle] = "<manager>";
        return nextHandle++;
    }
    Handle OpenServiceByName(Handle, const char* name, uint32_t) override {
        auto it = services.find(name);
        if (it == services.end() || (it->second.deleted && it->second.goneAfterPolls >= 0 &&
                                     it->second.opensSinceDelete++ >= it->second.goneAfterPolls)) {
            lastError = kErrorServiceDoesNotExist;
            return 0;
        }
        open[nextHandle] = name;
        return nextHandle++;
    }
    bool StopService(Handle h) override {
        FakeService& s = services[open.at(h)];
        if (s.state == kServiceStopped) {
            lastError = kErrorServiceNotActive;
            return false;
        }
        s.stopRequested = true;
        return true;
    }
    bool QueryServiceState(Handle h, uint32_t& state) override {
        FakeService& s = services[open.at(h)];
        if (s.stopRequested && s.state != kServiceStopped && s.stopAfterPolls >= 0 &&
            s.pollsSinceStop++ >= s.stopAfterPolls)
            s.state = kServiceStopped;
        state = s.state;
        return true;
    }
    bool RemoveService(Handle h) override {
        FakeService& s = services[open.at(h)];
        if (s.deleteFails) {
            lastError = 5;
            return false;
        }
        if (s.markedForDelete) {
            lastError = kErrorServiceMarkedForDelete;
            return false;
        }
        s.deleted = true;
        return true;
    }
    void CloseService(Handle h) override {
        if (open.erase(h) == 1)
            ++handlesClosed;
    }
    void Advance() {
        if (!installPending)
            return;
        if (serviceAppearsAfterMs >= 0 && now - installedAt >= uint32_t(serviceAppearsAfterMs) &&
            services.count("QmHidSrv") == 0) {
            FakeService s;
            s.state = 2;  // start pending
            services["QmHidSrv"] = s;
        }
        auto it = services.find("QmHidSrv");
        if (it != services.end() && serviceRunsAfterMs >= 0 &&
            now - installedAt >= uint32_t(serviceAppearsAfterMs + serviceRunsAfterMs))
            it->second.state = kServiceRunning;
    }

    // Programs, window, files, mutex, COM.
    struct Run {
        std::string file, parameters;
        bool show, wait;
    };
    std::vector<Run> runs;
    bool executeFails = false;
    bool Execute(const char* file, const char* parameters, bool show, bool wait) override {
        runs.push_back({file, parameters, show, wait});
        if (executeFails)
            return false;
        if (std::string(file) == "QmHidSrv" && std::string(parameters) == "/Install") {
            installPending = true;
            installedAt = now;
            Advance();
        }
        return true;
    }
    bool buttonWindow = false, buttonProcessOpens = true, buttonEndsOnQuit = true;
    int quitsPosted = 0;
    bool FindWindowProcess(const char* cls, uint32_t& pid, uintptr_t& window) override {
        if (!buttonWindow || std::string(cls) != "QMOFFICEWND")
            return false;
        pid = 42;
        window = 7;
        return true;
    }
    Handle OpenProcessForWait(uint32_t) override {
        if (!buttonProcessOpens)
            return 0;
        open[nextHandle] = "<process>";
        return nextHandle++;
    }
    void PostQuit(uintptr_t) override { ++quitsPosted; }
    bool WaitProcess(Handle, uint32_t ms) override {
        if (buttonEndsOnQuit)
            return true;
        now += ms;
        return false;
    }
    void CloseProcess(Handle h) override {
        if (open.erase(h) == 1)
            ++handlesClosed;
    }
    std::string startupFolder = "C:\\ProgramData\\Startup";
    bool startupKnown = true;
    std::vector<std::string> files;
    std::vector<std::string> deletions;
    bool CommonStartupFolder(char* buffer, size_t chars) override {
        if (!startupKnown || startupFolder.size() + 1 > chars)
            return false;
        std::memcpy(buffer, startupFolder.c_str(), startupFolder.size() + 1);
        return true;
    }
    bool RemoveFile(const char* path) override {
        deletions.emplace_back(path);
        for (auto it = files.begin(); it != files.end(); ++it)
            if (*it == path) {
                files.erase(it);
                return true;
            }
        lastError = kErrorFileNotFound;
        return false;
    }
    bool mutexHeld = false;
    bool MutexExists(const char* name) override {
        return mutexHeld && std::string(name) == "QMI Setup Active";
    }
    int comInits = 0, comUninits = 0;
    bool InitializeCom() override {
        ++comInits;
        return true;
    }
    void UninitializeCom() override { ++comUninits; }
};

}  // namespace qm::coins::test
