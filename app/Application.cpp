#include "Application.h"

#include <QApplication>
#include <QStyleFactory>

#include "Fonts.h"
#include "QtFramework.h"

void PrepareApplication() {
    // One style on every desktop, so the window looks as designed wherever it runs.
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
    InstallFontSubstitutes();
    InstallQtFrameworkHooks();
}
