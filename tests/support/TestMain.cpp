// Every test process takes its locale from the environment as the program does (QApplication
// calls setlocale at start), so `LC_ALL=de_DE.UTF-8 ctest` runs the whole suite the way a
// German user runs the console, tests without a window included.

#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
