// A folder of the test's own, made empty and removed with everything in it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace qm::test {

class TempFolder {
public:
    explicit TempFolder(const char* stem = "qmhid") {
        std::string name = "/tmp/" + std::string(stem) + "-XXXXXX";
        if (mkdtemp(name.data()) != nullptr)
            path_ = name;
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Empty when no folder could be made.
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace qm::test
