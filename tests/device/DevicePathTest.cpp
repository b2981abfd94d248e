#include <gtest/gtest.h>

#include "Device.h"

namespace {

TEST(DevicePathTest, Table) {
    struct Row {
        const char* port;
        const char* path;
    };
    const Row rows[] = {
        {"COM1", "/dev/ttyS0"},
        {"COM13", "/dev/ttyS12"},
        {"com2", "/dev/ttyS1"},
        {"CoM10", "/dev/ttyS9"},
        {"COM0", "/dev/COM0"},     // n >= 1 only
        {"COM01", "/dev/COM01"},   // no leading zeros
        {"COM", "/dev/COM"},
        {"COM1x", "/dev/COM1x"},
        {"COM-1", "/dev/COM-1"},
        {"ttyUSB0", "/dev/ttyUSB0"},
        {"ttyACM3", "/dev/ttyACM3"},
        {"serial/by-id/usb-FTDI-if00", "/dev/serial/by-id/usb-FTDI-if00"},
        {"/dev/pts/7", "/dev/pts/7"},
        {"/tmp/../dev/ttyS0", "/tmp/../dev/ttyS0"},  // absolute: as is
        {"../etc/passwd", ""},
        {"..", ""},
        {"a/../../x", ""},
        {"a/..", ""},
        {"..a/b", "/dev/..a/b"},  // ".." only as a whole component
        {"./ttyS0", "/dev/./ttyS0"},
        {"", ""},
    };
    for (const Row& r : rows) EXPECT_EQ(device::DevicePath(r.port), r.path) << r.port;
    EXPECT_EQ(device::DevicePath(std::string("ttyS0\0/../x", 11)), "");
}

}  // namespace
