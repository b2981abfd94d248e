// Renders the toolpath window offscreen to a PNG file: a small part (a pocket of arcs and
// lines, drilled holes) half done, the tool where the controller reported it.
//
//   QT_QPA_PLATFORM=offscreen QT_FONT_DPI=120 toolpath_render out.png [top|front|side|3d]

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "ToolpathWindow.h"

namespace {

std::string Num(double v) {
    char b[32];
    const auto [end, ec] = std::to_chars(b, b + sizeof b, v, std::chars_format::fixed, 3);
    return ec == std::errc{} ? std::string(b, end) : std::string("0");
}

std::string Part() {
    std::string g = "G21 G90 G17\nG0 Z5\n";
    // A rounded pocket, three passes deeper each time.
    for (int pass = 1; pass <= 3; ++pass) {
        for (int ring = 0; ring < 4; ++ring) {
            const double in = ring * 4.0, r = 8.0;
            g += "G0 X" + Num(10 + in + r) + " Y" + Num(10 + in) + "\n";
            g += "G1 Z" + Num(-1.5 * pass) + " F200\n";
            g += "G1 X" + Num(70 - in - r) + " F800\n";
            g += "G3 X" + Num(70 - in) + " Y" + Num(10 + in + r) + " R" + Num(r) + "\n";
            g += "G1 Y" + Num(50 - in - r) + "\n";
            g += "G3 X" + Num(70 - in - r) + " Y" + Num(50 - in) + " R" + Num(r) + "\n";
            g += "G1 X" + Num(10 + in + r) + "\n";
            g += "G3 X" + Num(10 + in) + " Y" + Num(50 - in - r) + " R" + Num(r) + "\n";
            g += "G1 Y" + Num(10 + in + r) + "\n";
            g += "G3 X" + Num(10 + in + r) + " Y" + Num(10 + in) + " R" + Num(r) + "\n";
            g += "G0 Z5\n";
        }
    }
    // Four holes in the corners, and a circle around the part.
    for (auto [x, y] : {std::pair{4, 4}, {76, 4}, {76, 56}, {4, 56}}) {
        g += "G0 X" + Num(x) + " Y" + Num(y) + "\nG1 Z-8 F150\nG0 Z5\n";
    }
    g += "G0 X90 Y30\nG1 Z-2 F300\nG2 X90 Y30 I-50 J0 F900\nG0 Z10\nM2\n";
    return g;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s out.png [top|front|side|3d]\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const auto file = std::filesystem::temp_directory_path() / "toolpath-render.nc";
    std::ofstream(file, std::ios::binary) << Part();

    TToolpathWindow window;
    window.resize(760, 560);
    window.show();
    QEventLoop loop;
    window.OnLoaded = [&] { loop.quit(); };
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    window.LoadFile(file.string());
    loop.exec();
    std::filesystem::remove(file);
    if (!window.Estimate()) {
        std::fprintf(stderr, "the part did not load\n");
        return 1;
    }
    const char* facing = argc > 2 ? argv[2] : "3d";
    const char* buttons[][2] = {{"top", "btnToolpathTop"},
                                {"front", "btnToolpathFront"},
                                {"side", "btnToolpathSide"},
                                {"3d", "btnToolpathOblique"}};
    for (auto& b : buttons)
        if (std::strcmp(facing, b[0]) == 0)
            window.findChild<QPushButton*>(QString::fromLatin1(b[1]))->click();
    window.SetRowsDone(60);
    window.NoteLine("<Run|WPos:50.000,14.000,-3.000|FS:800,0>\r", std::nullopt);
    return window.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
