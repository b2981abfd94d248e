#include "GCodeGrid.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <optional>

namespace {

// A cell shows at most this many bytes of its text: more never fits on a screen, and laying
// out a line of megabytes would stall every repaint.
constexpr std::size_t kShownBytes = 4096;
constexpr int kTextInset = 2;

const char* const kGCodeHeaders[] = {" Command", " Sent", " Accept", " Comment"};
constexpr int kCommentColumnWidth = 140;  // designed pixels

}  // namespace

// The view's rows are the grid's rows from 1 on; row 0 is the horizontal header.
class TGCodeGrid::Model : public QAbstractTableModel {
public:
    explicit Model(TGCodeGrid& grid) : QAbstractTableModel(&grid), grid_(grid) {}

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : std::max(0, grid_.rowCount_ - 1);
    }
    int columnCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : grid_.colCount_;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid()) return {};
        return grid_.DisplayText(index.column(), index.row() + 1);
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
        return grid_.DisplayText(section, 0);
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    void Reset() {
        beginResetModel();
        endResetModel();
    }
    void CellChanged(int col, int row) {
        if (row == 0) {
            emit headerDataChanged(Qt::Horizontal, col, col);
        } else {
            const QModelIndex i = index(row - 1, col);
            emit dataChanged(i, i, {Qt::DisplayRole});
        }
    }

private:
    TGCodeGrid& grid_;
};

// Draws a cell as the grid does (background, text 2 pixels in from the left and top), then
// hands it to OnDrawCell.
class TGCodeGrid::Delegate : public QStyledItemDelegate {
public:
    explicit Delegate(TGCodeGrid& grid) : QStyledItemDelegate(&grid), grid_(grid) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool selected = option.state.testFlag(QStyle::State_Selected);
        const QPalette::ColorGroup group =
            option.state.testFlag(QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
        painter->save();
        painter->setClipRect(option.rect);
        painter->fillRect(option.rect, selected ? option.palette.brush(group, QPalette::Highlight)
                                                : option.palette.brush(group, QPalette::Base));
        painter->setFont(option.font);
        painter->setPen(option.palette.color(group, selected ? QPalette::HighlightedText
                                                             : QPalette::Text));
        // No character is narrower than a pixel, so no more of them than the cell is wide
        // can be seen: laying out the rest would only cost time.
        QString text = index.data(Qt::DisplayRole).toString();
        text.truncate(std::max(0, option.rect.width()));
        painter->drawText(option.rect.adjusted(kTextInset, kTextInset, 0, 0),
                          Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
        painter->restore();

        TGridDrawState state = 0;
        if (selected) state |= gdSelected;
        if (option.state.testFlag(QStyle::State_HasFocus)) state |= gdFocused;
        grid_.DrawCell(painter, index.column(), index.row() + 1, option.rect, state);
    }

private:
    TGCodeGrid& grid_;
};

// The fixed row 0, drawn in the header style and handed to OnDrawCell like any cell.
class TGCodeGrid::Header : public QHeaderView {
public:
    explicit Header(TGCodeGrid& grid) : QHeaderView(Qt::Horizontal, &grid), grid_(grid) {}

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override {
        // The style may leave the painter clipped to nothing after a header label.
        painter->save();
        QHeaderView::paintSection(painter, rect, logicalIndex);
        painter->restore();
        grid_.DrawCell(painter, logicalIndex, 0, rect, gdFixed);
    }

private:
    TGCodeGrid& grid_;
};

TGCodeGrid::TGCodeGrid(TComponent* owner, QWidget* parent)
    : QTableView(parent), TComponent(owner), colWidths_{360, 72, 70, 143} {
    model_ = new Model(*this);
    header_ = new Header(*this);
    setHorizontalHeader(header_);
    setModel(model_);
    setItemDelegate(new Delegate(*this));

    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // White wherever there is no cell too, whatever the parent's colours.
    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    QHeaderView* rows = verticalHeader();
    rows->hide();
    rows->setMinimumSectionSize(0);
    rows->setSectionResizeMode(QHeaderView::Fixed);

    header_->setSectionsClickable(false);
    header_->setHighlightSections(false);
    header_->setStretchLastSection(false);
    header_->setSectionResizeMode(QHeaderView::Interactive);
    header_->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header_->setMinimumSectionSize(4);
    connect(header_, &QHeaderView::sectionResized, this,
            [this](int col, int, int newSize) { ColumnResized(col, newSize); });

    SetDefaultRowHeight(defaultRowHeight_);
    SetDefaultColWidth(defaultColWidth_);
    Changed();
}

TGCodeGrid::~TGCodeGrid() {
    // The view's children (model, delegate, header) call back into the grid while Qt tears
    // them down; let them go while the grid's members are still alive.
    OnDrawCell = nullptr;
    setModel(nullptr);
}

void TGCodeGrid::SetColCount(int count) {
    count = std::clamp(count, 1, kMaxCols);
    if (count == colCount_) return;
    if (count < colCount_) {
        std::erase_if(written_, [count](const auto& cell) { return cell.first.second >= count; });
        docFields_ = std::min(docFields_, static_cast<std::size_t>(count));
    }
    colWidths_.resize(static_cast<std::size_t>(count), defaultColWidth_);
    colCount_ = count;
    Changed();
}

void TGCodeGrid::SetRowCount(int count) {
    count = std::clamp(count, 1, kMaxRows);
    if (count == rowCount_) return;
    if (count < rowCount_) {
        std::erase_if(written_, [count](const auto& cell) { return cell.first.first >= count; });
        const std::int64_t linesLeft = std::max<std::int64_t>(0, count - lineOffset_);
        docLines_ = std::min(docLines_, static_cast<std::size_t>(linesLeft));
    }
    rowCount_ = count;
    Changed();
}

std::int64_t TGCodeGrid::LineOfRow(int row) const {
    const std::int64_t line = row - lineOffset_;
    return line >= 0 && static_cast<std::size_t>(line) < docLines_ ? line : -1;
}

std::string TGCodeGrid::Cells(int col, int row) const {
    return CellText(col, row, std::string::npos);
}

const std::vector<std::size_t>& TGCodeGrid::FieldStartsOf(std::size_t line) const {
    if (fieldStarts_.empty()) fieldStarts_.resize(kCachedLines);
    TFieldStarts& slot = fieldStarts_[line % kCachedLines];
    if (slot.line != line) {
        slot.starts = csv::FieldStarts(doc_.Line(line), doc_.GetDialect(), kCachedFields);
        slot.line = line;
    }
    return slot.starts;
}

std::string TGCodeGrid::CellText(int col, int row, std::size_t maxBytes) const {
    if (col < 0 || col >= colCount_ || row < 0 || row >= rowCount_) return {};
    if (const auto it = written_.find({row, col}); it != written_.end())
        return it->second.substr(0, maxBytes);
    const std::int64_t line = LineOfRow(row);
    if (line < 0 || static_cast<std::size_t>(col) >= docFields_) return {};
    const std::string_view text = doc_.Line(static_cast<std::size_t>(line));
    const csv::Dialect& dialect = doc_.GetDialect();
    // Field k of `part`, given where its fields start; nothing when that does not tell.
    const auto cut = [&](std::string_view part, const std::vector<std::size_t>& starts,
                         std::size_t k, bool complete) -> std::optional<std::string> {
        if (k + 1 < starts.size() || (complete && k < starts.size())) {
            const std::size_t end = k + 1 < starts.size() ? starts[k + 1] - 1 : part.size();
            return csv::FinishedField(part.substr(starts[k], end - starts[k]), dialect, maxBytes);
        }
        if (complete) return std::string();
        return std::nullopt;
    };
    const std::vector<std::size_t>& starts = FieldStartsOf(static_cast<std::size_t>(line));
    const std::size_t k = static_cast<std::size_t>(col);
    if (auto field = cut(text, starts, k, starts.size() <= kCachedFields)) return *std::move(field);
    // Beyond the remembered fields: the rest of the line from the last one, which begins
    // after a separator outside quotes, so the quote count starts afresh there.
    const std::string_view rest = text.substr(starts.back());
    const std::size_t j = k - (starts.size() - 1);
    return cut(rest, csv::FieldStarts(rest, dialect, j + 1), j, true).value_or(std::string());
}

bool TGCodeGrid::CellEquals(int col, int row, std::string_view text) const {
    // One byte more than the text tells a longer cell from an equal one.
    return CellText(col, row, text.size() + 1) == text;
}

void TGCodeGrid::SetCells(int col, int row, const std::string& text) {
    if (col < 0 || col >= colCount_ || row < 0 || row >= rowCount_) return;
    written_[{row, col}] = text;
    model_->CellChanged(col, row);
}

QString TGCodeGrid::DisplayText(int col, int row) const {
    return QString::fromUtf8(CellText(col, row, kShownBytes));
}

int TGCodeGrid::ColWidths(int col) const {
    return col >= 0 && col < colCount_ ? colWidths_[static_cast<std::size_t>(col)] : 0;
}

void TGCodeGrid::SetColWidths(int col, int width) {
    if (col < 0 || col >= colCount_) return;
    colWidths_[static_cast<std::size_t>(col)] = std::max(0, width);
    if (updateDepth_ == 0)
        ApplyColumnWidths();
    else
        widthsDirty_ = true;
}

void TGCodeGrid::SetDefaultColWidth(int width) {
    // Only columns that come into being later take it; the present ones keep their widths.
    defaultColWidth_ = std::max(1, width);
    applyingWidths_ = true;
    header_->setDefaultSectionSize(defaultColWidth_);
    applyingWidths_ = false;
    ApplyColumnWidths();
}

void TGCodeGrid::SetDefaultRowHeight(int height) {
    defaultRowHeight_ = std::max(1, height);
    verticalHeader()->setDefaultSectionSize(defaultRowHeight_);
    header_->setFixedHeight(defaultRowHeight_);
}

void TGCodeGrid::SetFixedFont(const QFont& font) { header_->setFont(font); }

void TGCodeGrid::InsertTopRow() {
    if (rowCount_ >= kMaxRows) return;
    std::map<std::pair<int, int>, std::string> moved;
    for (auto& [cell, text] : written_) moved.emplace(std::pair{cell.first + 1, cell.second}, std::move(text));
    written_ = std::move(moved);
    ++lineOffset_;
    ++rowCount_;
    Changed();
}

void TGCodeGrid::LoadCsvFile(const std::string& fileName, char separator, char quote,
                             bool unquote) {
    // The row for the header must fit too; a longer file is refused while it is scanned.
    csv::Document doc = csv::Document::Load(fileName, {separator, quote, unquote},
                                            static_cast<std::size_t>(kMaxRows) - 1);

    UpdateScope update(*this);
    doc_ = std::move(doc);
    fieldStarts_.clear();
    written_.clear();
    lineOffset_ = 0;
    docLines_ = doc_.LineCount();
    docFields_ = doc_.MaxFieldCount();
    rowCount_ = static_cast<int>(std::max<std::size_t>(1, docLines_));
    // Down to one column and up again: every column but the first takes the default width.
    colWidths_.resize(1);
    colCount_ = 1;
    SetColCount(static_cast<int>(std::min<std::size_t>(std::max<std::size_t>(1, docFields_),
                                                       static_cast<std::size_t>(kMaxCols))));
    Changed();
}

void TGCodeGrid::ShowAsGCodeTable() {
    UpdateScope update(*this);
    SetColCount(4);
    InsertTopRow();
    SetColWidths(3, static_cast<int>(std::lround(kCommentColumnWidth * designScale_)));
    for (int col = 0; col < 4; ++col) SetCells(col, 0, kGCodeHeaders[col]);
}

QRect TGCodeGrid::CellRect(int col, int row) const {
    if (col < 0 || col >= colCount_ || row < 0 || row >= rowCount_) return {};
    if (row == 0) {
        const QRect section(header_->sectionViewportPosition(col), 0, header_->sectionSize(col),
                            header_->height());
        return section.translated(header_->geometry().topLeft()) & header_->geometry();
    }
    const QRect cell = visualRect(model_->index(row - 1, col));
    return cell.translated(viewport()->geometry().topLeft()) & viewport()->geometry();
}

std::size_t TGCodeGrid::MemoryUsed() const {
    std::size_t bytes = doc_.MemoryUsed() + colWidths_.capacity() * sizeof(int);
    for (const auto& [cell, text] : written_) bytes += sizeof(cell) + text.capacity();
    return bytes;
}

void TGCodeGrid::DrawCell(QPainter* painter, int col, int row, const QRect& rect,
                          TGridDrawState state) {
    if (!OnDrawCell) return;
    painter->save();
    canvas_ = painter;
    try {
        OnDrawCell(this, col, row, rect, state);
    } catch (...) {
        // Painting must not unwind through Qt; the error is reported like any handler's.
        framework::ShowCurrentException();
    }
    canvas_ = nullptr;
    painter->restore();
}

void TGCodeGrid::EndUpdate() {
    if (updateDepth_ == 0 || --updateDepth_ > 0) return;
    if (dirty_) {
        dirty_ = false;
        Changed();
    } else if (widthsDirty_) {
        ApplyColumnWidths();
    }
    widthsDirty_ = false;
}

void TGCodeGrid::Changed() {
    if (updateDepth_ > 0) {
        dirty_ = true;
        return;
    }
    // A reset gives every column the default width; the grid's own widths are put back.
    applyingWidths_ = true;
    model_->Reset();
    applyingWidths_ = false;
    ApplyColumnWidths();
}

void TGCodeGrid::ApplyColumnWidths() {
    applyingWidths_ = true;
    for (int col = 0; col < colCount_; ++col)
        if (header_->sectionSize(col) != colWidths_[static_cast<std::size_t>(col)])
            header_->resizeSection(col, colWidths_[static_cast<std::size_t>(col)]);
    applyingWidths_ = false;
}

void TGCodeGrid::ColumnResized(int col, int newSize) {
    if (applyingWidths_ || col < 0 || col >= colCount_) return;
    colWidths_[static_cast<std::size_t>(col)] = newSize;
}
