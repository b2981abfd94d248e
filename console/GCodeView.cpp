// The G-code file view: a text file shown as a table, the lines "N1 G71" marked.

#include <QFile>
#include <QPainter>

#include "GCodeGrid.h"
#include "JobRunner.h"
#include "OpenDialog.h"
#include "UnitMain.h"

void TForm1::btnLoadFromFileClick(QObject*) {
    LMDOpenDialog1->DefaultExt = QStringLiteral(".*");
    LMDOpenDialog1->Filter = QStringLiteral("Files (*.*)|*.*");
    if (!LMDOpenDialog1->Execute(this)) return;
    // The name as the file system spells it, umlauts included.
    const std::string fileName = QFile::encodeName(LMDOpenDialog1->FileName).toStdString();
    // Load and layout reach the view as one change; a file that cannot be read raises before
    // the grid changes.
    TGCodeGrid::UpdateScope update(*JvStringGrid1);
    JvStringGrid1->LoadCsvFile(fileName, ';', '"', true);
    JvStringGrid1->ShowAsGCodeTable();
    if (jobRunner_) jobRunner_->Forget();
    ToolpathNoteFile(fileName);
}

void TForm1::JvStringGrid1DrawCell(TObject*, int ACol, int ARow, const QRect& Rect,
                                   TGridDrawState) {
    QPainter& canvas = *JvStringGrid1->Canvas();
    const std::string_view text = "N1 G71";
    if (JvStringGrid1->CellEquals(ACol, ARow, text)) {
        canvas.fillRect(Rect, QColor(255, 255, 0));
        canvas.setPen(QColor(128, 0, 0));
        canvas.drawText(Rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    }
    // The rows of the last job, over the cell and its text.
    if (jobRunner_) jobRunner_->DrawCell(canvas, ACol, ARow, Rect);
}
