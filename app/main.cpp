// Tarnwick: the console for a GRBL-driven mill. One window, no arguments, no settings.

#include <QApplication>

#include "Application.h"
#include "Errors.h"
#include "FormLoader.h"
#include "QtFramework.h"
#include "UnitMain.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    PrepareApplication();
    int result = 1;
    try {
        std::unique_ptr<TForm1> form = CreateForm1();
        ShowCentred(*form);
        result = QApplication::exec();
    } catch (...) {
        framework::ShowCurrentException();
    }
    RemoveQtFrameworkHooks();
    return result;
}
