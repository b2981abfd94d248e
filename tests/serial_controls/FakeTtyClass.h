#pragma once
// A stand-in for the kernel's tty class directory, built in a temporary directory: entries
// are links to device directories laid out as sysfs lays them out, some with a device behind
// them and an 8250 "type" attribute, some virtual.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace controlstest {

namespace fs = std::filesystem;

class FakeTtyClass {
public:
    FakeTtyClass() {
        std::string pattern = (fs::temp_directory_path() / "tarnwick-tty-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
        fs::create_directories(root_ / "class" / "tty");
        fs::create_directories(root_ / "devices");
        fs::create_directory(root_ / "run");
        fs::permissions(root_ / "run", fs::perms::owner_all, fs::perm_options::replace);
    }
    ~FakeTtyClass() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    FakeTtyClass(const FakeTtyClass&) = delete;
    FakeTtyClass& operator=(const FakeTtyClass&) = delete;

    // The directory that takes the place of /sys/class/tty.
    std::string Dir() const { return (root_ / "class" / "tty").string(); }

    // A private directory that takes the place of the simulators' runtime directory.
    std::string SimulatorDir() const { return (root_ / "run").string(); }

    // A tty with hardware behind it; `type` is the 8250 UART type attribute, if any.
    void AddPort(const std::string& sysfsName, std::optional<int> type = std::nullopt) {
        const fs::path hw = root_ / "devices" / ("hw-" + sysfsName);
        const fs::path tty = hw / "tty" / sysfsName;
        fs::create_directories(tty);
        fs::create_directory_symlink("../..", tty / "device");
        if (type) std::ofstream(tty / "type") << *type << "\n";
        Link(tty, sysfsName);
    }

    // A tty without a device (tty0, console, ptmx).
    void AddVirtual(const std::string& sysfsName) {
        const fs::path tty = root_ / "devices" / "virtual" / "tty" / sysfsName;
        fs::create_directories(tty);
        std::ofstream(tty / "dev") << "4:0\n";
        Link(tty, sysfsName);
    }

    // Removes a tty, as an unplugged adapter leaves the class.
    void Remove(const std::string& sysfsName) { fs::remove(fs::path(Dir()) / sysfsName); }

private:
    void Link(const fs::path& target, const std::string& name) {
        fs::create_directory_symlink(target, fs::path(Dir()) / name);
    }

    fs::path root_;
};

}  // namespace controlstest
