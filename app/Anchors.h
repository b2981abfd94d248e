#pragma once
// Keeps anchored controls in place as their parent's height changes: a control anchored to
// top and bottom keeps its distance to the bottom edge by growing, one anchored to the bottom
// only keeps it by moving; the rest stay put.

#include <QObject>
#include <QVector>

class QWidget;

class TAnchors : public QObject {
public:
    explicit TAnchors(QObject* parent) : QObject(parent) {}

    // Call with the parent and the control at their design geometry.
    void Follow(QWidget* control, bool top, bool bottom);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Rule {
        QWidget* control;
        bool top;
        int bottomGap;  // parent height minus control bottom, at design size
    };
    QVector<Rule> rules_;
};
