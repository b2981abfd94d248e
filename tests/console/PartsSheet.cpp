// Renders the numeric fields and the G-code grid as the window shows them, to a PNG:
// console_parts_sheet <output.png>

#include <QApplication>
#include <QFile>
#include <QPainter>
#include <QWidget>
#include <cstdio>
#include <string>

#include "GCodeGrid.h"
#include "SpinEdit.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.png>\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    QWidget sheet;
    sheet.resize(720, 470);
    QPalette pal = sheet.palette();
    pal.setColor(QPalette::Window, QColor(0xC2, 0xCD, 0x95));
    sheet.setPalette(pal);
    sheet.setAutoFillBackground(true);

    QFont fieldFont(QStringLiteral("Arial"));
    fieldFont.setPixelSize(17);
    fieldFont.setBold(true);
    TSpinEdit distance(nullptr, &sheet);
    distance.setGeometry(12, 12, 107, 29);
    distance.setFont(fieldFont);
    distance.SetValueType(vtFloat);
    distance.SetMaxValue(1000);
    distance.SetValue(0.25);
    TSpinEdit feed(nullptr, &sheet);
    feed.setGeometry(140, 12, 81, 29);
    feed.setFont(fieldFont);
    feed.SetMaxValue(1000);
    feed.SetValue(100);

    const std::string path = "/tmp/tarnwick-parts-sheet.nc";
    {
        QFile f(QString::fromStdString(path));
        if (!f.open(QIODevice::WriteOnly)) return 1;
        f.write("N1 G71\r\nG1 X10 Y5 ; move to start\r\nG0 X0;\"a;b\";c\r\nN1 G71 \r\n");
        for (int i = 2; i < 40; ++i) f.write(QByteArray("N") + QByteArray::number(i) + " G1 X" + QByteArray::number(i * 1.5) + " Y2\r\n");
    }
    TGCodeGrid grid(nullptr, &sheet);
    grid.setGeometry(12, 56, 678, 369);
    QFont cellFont(QStringLiteral("MS Sans Serif"));
    cellFont.setPixelSize(13);
    cellFont.setBold(true);
    grid.setFont(cellFont);
    cellFont.setBold(false);
    grid.SetFixedFont(cellFont);
    grid.OnDrawCell = [&grid](TObject*, int col, int row, const QRect& rect, TGridDrawState) {
        if (grid.Cells(col, row) != "N1 G71") return;
        grid.Canvas()->fillRect(rect, QColor(255, 255, 0));
        grid.Canvas()->setPen(QColor(128, 0, 0));
        grid.Canvas()->drawText(rect, Qt::AlignLeft | Qt::AlignTop, QStringLiteral("N1 G71"));
    };
    {
        TGCodeGrid::UpdateScope update(grid);
        grid.LoadCsvFile(path, ';', '"', true);
        grid.ShowAsGCodeTable();
    }
    QFile::remove(QString::fromStdString(path));
    grid.selectRow(3);
    sheet.show();
    return sheet.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
