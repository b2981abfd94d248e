#pragma once
// A grid of text cells for viewing a semicolon-separated text file, model/view: the file's
// bytes are held once with a small index of its lines (csv::Document), and a cell's text is
// cut from its line when the cell is painted. Row 0 is the fixed header row (shown in the header style, never
// scrolled); there is no fixed column. Rows are selected whole; columns can be resized by the
// operator; only a vertical scroll bar is shown.
//
// Sizes are pixels on the screen. Setting DesignScale lets the layout steps of the G-code view
// (ShowAsGCodeTable) turn their designed widths into pixels the same way the window does.

#include <QTableView>
#include <cstdint>
#include <functional>
#include <map>
#include <string_view>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Component.h"
#include "CsvText.h"

class QPainter;

// What a drawn cell is: part of the selected row, the current cell, in the fixed header row.
enum TGridDrawStateFlag : unsigned { gdSelected = 1, gdFocused = 2, gdFixed = 4 };
using TGridDrawState = unsigned;

// Called for every cell painted, after the grid's own drawing of it; Canvas() is the painter.
using TDrawCellEvent = std::function<void(TObject* Sender, int ACol, int ARow, const QRect& Rect,
                                          TGridDrawState State)>;

class TGCodeGrid : public QTableView, public TComponent {
public:
    explicit TGCodeGrid(TComponent* owner = nullptr, QWidget* parent = nullptr);
    ~TGCodeGrid() override;
    const char* ClassName() const override { return "TGCodeGrid"; }

    // Shrinking drops the cells beyond; growing adds empty cells (new columns get the default
    // width).
    int ColCount() const { return colCount_; }
    void SetColCount(int count);
    int RowCount() const { return rowCount_; }
    void SetRowCount(int count);

    // Text of a cell as bytes (UTF-8); empty outside the grid. Writing outside is ignored.
    std::string Cells(int col, int row) const;
    // At most the first `maxBytes` bytes of a cell's text, made without producing the rest:
    // what painting uses, so that a line of megabytes costs a paint no more than a short one.
    std::string CellText(int col, int row, std::size_t maxBytes) const;
    // Whether a cell's whole text is `text`, at the cost of that text's length.
    bool CellEquals(int col, int row, std::string_view text) const;
    void SetCells(int col, int row, const std::string& text);

    int ColWidths(int col) const;
    void SetColWidths(int col, int width);
    int DefaultColWidth() const { return defaultColWidth_; }
    void SetDefaultColWidth(int width);
    int DefaultRowHeight() const { return defaultRowHeight_; }
    void SetDefaultRowHeight(int height);
    double DesignScale() const { return designScale_; }
    void SetDesignScale(double scale) { designScale_ = scale; }
    // Font of the fixed header row (the cells use the widget's font).
    void SetFixedFont(const QFont& font);

    // Puts an empty row on top: every row moves down by one.
    void InsertTopRow();

    // While an update scope lives, changes of the grid's shape reach the view once, at its
    // end (a load followed by the layout steps never shows the intermediate shapes).
    class UpdateScope {
    public:
        explicit UpdateScope(TGCodeGrid& grid) : grid_(grid) { grid_.BeginUpdate(); }
        ~UpdateScope() { grid_.EndUpdate(); }
        UpdateScope(const UpdateScope&) = delete;
        UpdateScope& operator=(const UpdateScope&) = delete;

    private:
        TGCodeGrid& grid_;
    };
    void BeginUpdate() { ++updateDepth_; }
    void EndUpdate();

    // The most rows and columns the grid holds: beyond them the view's pixel extent would
    // overflow. A file of more lines is refused; fields of a line beyond the last column are
    // not shown.
    static constexpr int kMaxRows = 50'000'000;
    static constexpr int kMaxCols = 1'000'000;

    // Fills the grid from a text file: every line becomes a row, split at `separator` outside
    // `quote` into the row's cells; the columns grow to the longest line's field count. The
    // grid is changed only after the whole file has been read; a file that cannot be read
    // raises EFOpenError and leaves the grid as it was.
    void LoadCsvFile(const std::string& fileName, char separator, char quote, bool unquote);

    // The G-code view's layout after a load: 4 columns, an empty row on top holding the
    // headers " Command", " Sent", " Accept", " Comment", column 3 at 140 designed pixels
    // (column 0 keeps its width, 1 and 2 have the default width).
    void ShowAsGCodeTable();

    // The loaded file's lines still in the grid, as the file has them (a job reads them here
    // rather than from a copy), and the row each one stands in.
    std::size_t FileLineCount() const { return docLines_; }
    std::string_view FileLine(std::size_t line) const {
        return line < docLines_ ? doc_.Line(line) : std::string_view();
    }
    int RowOfFileLine(std::size_t line) const { return static_cast<int>(line + lineOffset_); }

    // Where a cell is drawn, in the grid's coordinates; empty when it is not in view.
    QRect CellRect(int col, int row) const;

    // The painter of the cell being drawn, during OnDrawCell only; otherwise null.
    QPainter* Canvas() const { return canvas_; }
    TDrawCellEvent OnDrawCell;

    // Bytes held for the cells (the file's text, its line table and written cells).
    std::size_t MemoryUsed() const;

private:
    class Model;
    class Delegate;
    class Header;
    friend class Model;
    friend class Delegate;
    friend class Header;

    // Where a row's text comes from: a line of the file, or nowhere (empty unless written).
    std::int64_t LineOfRow(int row) const;
    // Where the first fields of a line of the file begin (csv::FieldStarts), remembered for
    // the lines painted lately so that a repaint does not walk a long line again.
    const std::vector<std::size_t>& FieldStartsOf(std::size_t line) const;
    // The text drawn for a cell: at most a screenful of it.
    QString DisplayText(int col, int row) const;
    void DrawCell(QPainter* painter, int col, int row, const QRect& rect, TGridDrawState state);

    void Changed();
    void ApplyColumnWidths();
    void ColumnResized(int col, int newSize);

    csv::Document doc_;
    struct TFieldStarts {
        std::size_t line = static_cast<std::size_t>(-1);
        std::vector<std::size_t> starts;
    };
    static constexpr std::size_t kCachedLines = 128;   // more than a screenful of rows
    static constexpr std::size_t kCachedFields = 256;  // more columns than fit on a screen
    mutable std::vector<TFieldStarts> fieldStarts_;     // slot = line % kCachedLines
    std::int64_t lineOffset_ = 0;          // rows above the file's first line
    std::size_t docLines_ = 0;             // lines of the file still in the grid
    std::size_t docFields_ = 0;            // fields of a line still in the grid
    std::map<std::pair<int, int>, std::string> written_;  // (row, col) -> text
    int rowCount_ = 8;
    int colCount_ = 4;
    std::vector<int> colWidths_;
    int defaultColWidth_ = 64;
    int defaultRowHeight_ = 20;
    double designScale_ = 1.0;

    Model* model_ = nullptr;
    Header* header_ = nullptr;
    QPainter* canvas_ = nullptr;
    int updateDepth_ = 0;
    bool dirty_ = false;
    bool widthsDirty_ = false;
    bool applyingWidths_ = false;
};
