#include "Application.h"

#include <QApplication>
#include <QIcon>
#include <QStyleFactory>

#include "Fonts.h"
#include "QtFramework.h"

void PrepareApplication() {
    // One style on every desktop, so the window looks as designed wherever it runs.
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
    // The installed desktop entry and icon carry the application's id: the desktop shell
    // groups the window under its menu entry (Wayland), and the title bar shows the icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(TARNWICK_APP_ID));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(TARNWICK_APP_ID)));
    InstallFontSubstitutes();
    InstallQtFrameworkHooks();
}
