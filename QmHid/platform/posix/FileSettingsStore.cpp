#include "platform/posix/FileSettingsStore.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

bool ValidName(const char* name) {
    if (name == nullptr || *name == 0)
        return false;
    for (const char* c = name; *c != 0; ++c) {
        const bool ok = (*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z') ||
                        (*c >= '0' && *c <= '9') || *c == '_' || *c == '-';
        if (!ok)
            return false;
    }
    return true;
}

bool MakeDirectories(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            const std::string part = path.substr(0, i);
            if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
                return false;
        }
    }
    return true;
}

bool WriteAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string FileSettingsStore::DefaultDirectory() {
    if (geteuid() == 0)
        return "/var/lib/qmhidsrv";
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/')
        return std::string(state) + "/qmhidsrv";
    // Never a shared folder: without a home the caller must name one.
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home != '/')
        return std::string();
    return std::string(home) + "/.local/state/qmhidsrv";
}

std::string FileSettingsStore::InterfaceDirectory(const std::string& interfacePath) const {
    // Interface paths compare without regard to case, so they are stored lower-cased; every
    // byte that is not a plain letter, digit, '.', '_' or '-' is written as %XX.
    static const char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    for (unsigned char c : interfacePath) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<unsigned char>(c - 'A' + 'a');
        const bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                           c == '-' || (c == '.' && !escaped.empty());
        if (plain) {
            escaped += static_cast<char>(c);
        } else {
            escaped += '%';
            escaped += kHex[c >> 4];
            escaped += kHex[c & 15];
        }
    }
    return directory_ + "/" + escaped;
}

bool FileSettingsStore::Read(const std::string& interfacePath, const char* name, void* buffer,
                             size_t size) {
    if (!ValidName(name))
        return false;
    const std::string path = InterfaceDirectory(interfacePath) + "/" + name;
    // Not through a link, and never waiting: a FIFO or a device in its place is refused.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<size_t>(st.st_size) == size;
    size_t done = 0;
    auto* out = static_cast<unsigned char*>(buffer);
    while (ok && done < size) {
        const ssize_t n = read(fd, out + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<size_t>(n);
    }
    close(fd);
    return ok && done == size;
}

bool FileSettingsStore::Write(const std::string& interfacePath, const char* name, const void* data,
                              size_t size) {
    if (!ValidName(name))
        return false;
    const std::string dir = InterfaceDirectory(interfacePath);
    if (!MakeDirectories(dir))
        return false;
    const std::string target = dir + "/" + name;
    const std::string temp = target + ".tmp";
    // The temporary file is always a new one of ours: whatever stands at its name (a file
    // left by a crash, or a link someone planted) is removed, never opened.
    unlink(temp.c_str());
    const int fd =
        open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, data, size) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok)
        ok = rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        unlink(temp.c_str());
        return false;
    }
    // The rename itself is made durable with the folder.
    const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}

}  // namespace qm
