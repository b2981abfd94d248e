#pragma once
// The file-open dialog as a component of the window: its settings are set before each use.

#include <QString>

class QWidget;

class TOpenDialog {
public:
    // Appended to a typed name without an extension.
    QString DefaultExt;
    // Entries "description|pattern", separated by "|" as well: "Files (*.*)|*.*".
    QString Filter;
    // The chosen file after a successful Execute.
    QString FileName;

    // Shows the dialog modally; false when the operator cancels.
    bool Execute(QWidget* parent);
};
