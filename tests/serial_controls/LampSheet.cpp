// Renders the twelve lamps as the LED control shows them, lit and unlit for each kind, side by
// side at 8x zoom, into one PNG file:  lampsheet OUTPUT.png

#include <QApplication>
#include <QImage>
#include <cstdio>

#include "CPortCtl.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    constexpr int kZoom = 8;
    constexpr int kCell = 25;  // the control's own size
    constexpr int kLamps = 2 * lkCustom;

    // The lamps sit on a window of the usual light grey, as on a form.
    QWidget window;
    window.setAutoFillBackground(true);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(0xF0, 0xF0, 0xF0));
    window.setPalette(palette);
    window.resize(kLamps * kCell, kCell);
    for (int i = 0; i < kLamps; ++i) {
        auto* led = new TComLed(nullptr, &window);
        led->move(i * kCell, 0);
        led->SetKind(static_cast<TLedKind>(i / 2));
        led->SetState(i % 2 == 0 ? lsOn : lsOff);
    }

    QImage sheet(window.size(), QImage::Format_RGB32);
    window.render(&sheet);
    sheet = sheet.scaled(sheet.size() * kZoom, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (!sheet.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "lampsheet: cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("lampsheet: wrote %s (%dx%d)\n", argv[1], sheet.width(), sheet.height());
    return 0;
}
