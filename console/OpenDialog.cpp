#include "OpenDialog.h"

#include <QFileDialog>
#include <QStringList>

bool TOpenDialog::Execute(QWidget* parent) {
    // "a|b|c|d" pairs into Qt's "a (b);;c (d)" form; a description that already names its
    // patterns is kept as it is.
    const QStringList parts = Filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        filters << (parts[i].contains(parts[i + 1]) ? parts[i] : parts[i] + " (" + parts[i + 1] + ")");
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);
    QString ext = DefaultExt;
    if (ext.startsWith(QLatin1Char('.'))) ext.remove(0, 1);
    if (ext != QLatin1String("*")) dialog.setDefaultSuffix(ext);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    FileName = dialog.selectedFiles().constFirst();
    return true;
}
