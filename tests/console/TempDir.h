#pragma once
// Scratch files for the tests of the console's parts.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace consoletest {

// A scratch directory, removed with its contents.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/tarnwick-console-XXXXXX";
        if (const char* made = ::mkdtemp(pattern)) path_ = made;
    }
    ~TempDir() {
        if (!path_.empty()) std::filesystem::remove_all(path_);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string File(const std::string& name, const std::string& bytes) const {
        const std::string path = path_ + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace consoletest
