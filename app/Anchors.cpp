#include "Anchors.h"

#include <QEvent>
#include <QWidget>

void TAnchors::Follow(QWidget* control, bool top, bool bottom) {
    if (!bottom) return;
    QWidget* parent = control->parentWidget();
    const QRect g = control->geometry();
    rules_.append({control, top, parent->height() - (g.y() + g.height())});
    parent->installEventFilter(this);
}

bool TAnchors::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) {
        auto* parent = static_cast<QWidget*>(watched);
        for (const Rule& r : rules_) {
            if (r.control->parentWidget() != parent) continue;
            QRect g = r.control->geometry();
            const int bottom = parent->height() - r.bottomGap;
            if (r.top)
                g.setHeight(bottom - g.y());
            else
                g.moveTop(bottom - g.height());
            r.control->setGeometry(g);
        }
    }
    return QObject::eventFilter(watched, event);
}
