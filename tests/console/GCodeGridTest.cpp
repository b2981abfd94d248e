// The G-code grid: initial shape, loading, the G-code layout, bad files and the draw hook.

#include <QHeaderView>
#include <QImage>
#include <cerrno>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "CsvText.h"
#include "GCodeGrid.h"
#include "QtTestSupport.h"
#include "TempDir.h"

namespace {

using consoletest::TempDir;
using controlstest::QtTest;
using Row = std::vector<std::string>;

Row RowOf(const TGCodeGrid& g, int row) {
    Row cells;
    for (int col = 0; col < g.ColCount(); ++col) cells.push_back(g.Cells(col, row));
    return cells;
}

std::vector<int> Widths(const TGCodeGrid& g) {
    std::vector<int> w;
    for (int col = 0; col < g.ColCount(); ++col) w.push_back(g.ColWidths(col));
    return w;
}

// What the window's load button does after the dialog.
void LoadGCode(TGCodeGrid& g, const std::string& path) {
    TGCodeGrid::UpdateScope update(g);
    g.LoadCsvFile(path, ';', '"', true);
    g.ShowAsGCodeTable();
}

const Row kHeader{" Command", " Sent", " Accept", " Comment"};

using GCodeGridTest = QtTest;

TEST_F(GCodeGridTest, StartsWithFourColumnsOfEightEmptyRows) {
    TGCodeGrid g;
    EXPECT_EQ(g.ColCount(), 4);
    EXPECT_EQ(g.RowCount(), 8);
    EXPECT_EQ(Widths(g), (std::vector<int>{360, 72, 70, 143}));
    for (int row = 0; row < 8; ++row) EXPECT_EQ(RowOf(g, row), Row(4, ""));
    EXPECT_EQ(g.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(g.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(g.horizontalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
}

TEST_F(GCodeGridTest, LoadsLinesIntoRowsUnderTheHeader) {
    const TempDir dir;
    const std::string path = dir.File(
        "job.nc",
        "G1 X10 Y5 ; move to start\r\nG0 X0;\"a;b\";c\rX\"1;2\n\"ab\"cd;\"a\"\"b\";\"abc\r\n"
        "A;B;C;D;E\r\n\r\nN1 G71\r\n");
    TGCodeGrid g;
    g.SetDesignScale(1.25);
    g.SetDefaultColWidth(80);
    g.SetColWidths(0, 450);
    LoadGCode(g, path);

    const std::vector<Row> rows = {
        kHeader,
        {"G1 X10 Y5 ", " move to start", "", ""},
        {"G0 X0", "a;b", "c", ""},
        {"X\"1;2", "", "", ""},
        {"ab", "a\"b", "abc", ""},
        {"A", "B", "C", "D"},
        {"", "", "", ""},
        {"N1 G71", "", "", ""},
    };
    ASSERT_EQ(g.RowCount(), static_cast<int>(rows.size()));
    ASSERT_EQ(g.ColCount(), 4);
    for (int row = 0; row < g.RowCount(); ++row) EXPECT_EQ(RowOf(g, row), rows[row]) << row;
    EXPECT_EQ(Widths(g), (std::vector<int>{450, 80, 80, 175}));
    EXPECT_EQ(g.horizontalHeader()->sectionSize(3), 175);
}

TEST_F(GCodeGridTest, ShortFilesAndNoLinesAtAll) {
    const TempDir dir;
    struct Case {
        const char* bytes;
        std::vector<Row> rows;
    };
    const Case cases[] = {
        {"", {kHeader, Row(4, "")}},
        {"\n", {kHeader, Row(4, "")}},
        {"G0", {kHeader, {"G0", "", "", ""}}},
    };
    for (const auto& c : cases) {
        TGCodeGrid g;
        LoadGCode(g, dir.File("f.nc", c.bytes));
        ASSERT_EQ(g.RowCount(), static_cast<int>(c.rows.size())) << c.bytes;
        for (int row = 0; row < g.RowCount(); ++row) EXPECT_EQ(RowOf(g, row), c.rows[row]);
    }
}

TEST_F(GCodeGridTest, AShortFileAfterALongOneLeavesNothingOfTheFirst) {
    const TempDir dir;
    std::string longFile;
    for (int i = 0; i < 50; ++i) longFile += "OLD;OLD;OLD;OLD;OLD;OLD\n";
    TGCodeGrid g;
    LoadGCode(g, dir.File("long.nc", longFile));
    g.SetCells(2, 7, "OLD");
    LoadGCode(g, dir.File("short.nc", "G0\n"));
    ASSERT_EQ(g.RowCount(), 2);
    ASSERT_EQ(g.ColCount(), 4);
    for (int row = 0; row < 60; ++row)
        for (int col = 0; col < 8; ++col) EXPECT_EQ(g.Cells(col, row).find("OLD"), std::string::npos);
}

TEST_F(GCodeGridTest, AFileThatCannotBeReadLeavesTheGridAsItWas) {
    const TempDir dir;
    TGCodeGrid g;
    LoadGCode(g, dir.File("job.nc", "G0;first\n"));
    const std::string missing = dir.Path() + "/gone.nc";
    try {
        LoadGCode(g, missing);
        ADD_FAILURE() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(),
                  "Datei " + missing + " kann nicht geöffnet werden. " +
                      std::generic_category().message(ENOENT));
    }
    EXPECT_EQ(g.RowCount(), 2);
    EXPECT_EQ(RowOf(g, 0), kHeader);
    EXPECT_EQ(RowOf(g, 1), (Row{"G0", "first", "", ""}));
}

TEST_F(GCodeGridTest, BinaryAndHugeLinesGiveADefinedGrid) {
    const TempDir dir;
    using namespace std::string_literals;
    TGCodeGrid g;
    g.resize(678, 369);
    g.show();

    LoadGCode(g, dir.File("bin.nc", "G1;\xff\xfe\r\x01\x02\0tail\nmore"s));
    EXPECT_EQ(g.RowCount(), 3);
    EXPECT_EQ(RowOf(g, 2), (Row{"\x01\x02", "", "", ""}));
    (void)g.grab();

    const std::string line(10u << 20, 'X');
    LoadGCode(g, dir.File("huge.nc", line));
    EXPECT_EQ(g.RowCount(), 2);
    EXPECT_EQ(g.Cells(0, 1), line);
    const QImage shot = g.grab().toImage();  // draws a screenful of the line, not all of it
    EXPECT_FALSE(shot.isNull());
}

// Painting cuts a cell from its line: whole, cut short, past the remembered fields of a
// wide line, and compared with the marked text; each must agree with the line's split.
TEST_F(GCodeGridTest, CellsOfLongAndWideLinesAreCutFromTheirLine) {
    const TempDir dir;
    std::string wide;
    for (int k = 0; k < 300; ++k) wide += (k == 270 ? "\"a;b\"" : "f" + std::to_string(k)) + ";";
    const std::string lines[] = {
        std::string(3u << 20, 'X') + ";N1 G71;\"q;\"\"x\";" + std::string(5000, 'y'),
        wide,
        "N1 G71 ;N1 G71;N1 G7",
        "\"N1 G71\";\"N1 \"\"G71\"",
    };
    std::string file;
    for (const std::string& line : lines) file += line + "\r\n";
    TGCodeGrid g;
    g.LoadCsvFile(dir.File("lines.nc", file), ';', '"', true);
    const csv::Dialect dialect{';', '"', true};
    for (int row = 0; row < static_cast<int>(std::size(lines)); ++row) {
        const std::vector<std::string> fields = csv::SplitCsvLine(lines[row], dialect);
        for (int col = 0; col < g.ColCount(); ++col) {
            SCOPED_TRACE("row " + std::to_string(row) + " col " + std::to_string(col));
            const std::string whole = static_cast<std::size_t>(col) < fields.size() ? fields[col] : "";
            ASSERT_EQ(g.Cells(col, row), whole);
            EXPECT_EQ(g.CellText(col, row, 3), whole.substr(0, 3));
            EXPECT_EQ(g.CellEquals(col, row, "N1 G71"), whole == "N1 G71");
            if (row > 0) {  // the view's row 0 is the grid's row 1
                const QString shown = g.model()->data(g.model()->index(row - 1, col)).toString();
                EXPECT_EQ(shown, QString::fromUtf8(whole.substr(0, 4096)));
            }
        }
    }
}

}  // namespace
