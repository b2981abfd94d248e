#include "Fonts.h"

#include <QFont>
#include <QStringList>

void InstallFontSubstitutes() {
    struct Substitute {
        const char* family;
        QStringList faces;
    };
    const Substitute substitutes[] = {
        {"Arial", {"Liberation Sans"}},
        {"Arial Narrow", {"Liberation Sans Narrow", "Liberation Sans"}},
        {"Courier New", {"Liberation Mono"}},
        // A bitmap face of Windows; Liberation Sans keeps its proportions closest.
        {"MS Sans Serif", {"Liberation Sans", "DejaVu Sans"}},
        // Narrower than Verdana, close to Arial in width.
        {"Tahoma", {"Liberation Sans", "DejaVu Sans"}},
    };
    for (const Substitute& s : substitutes)
        QFont::insertSubstitutions(QString::fromLatin1(s.family), s.faces);
}
