#include "SpinEdit.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QPalette>
#include <cmath>

TSpinEdit::TSpinEdit(TComponent* owner, QWidget* parent)
    : QAbstractSpinBox(parent), TComponent(owner) {
    setAlignment(Qt::AlignCenter);
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setFrame(false);
    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::white);
    setPalette(pal);
    SetValue(0);
}

void TSpinEdit::SetValueType(TValueType type) { valueType_ = type; }

numtext::FieldKind TSpinEdit::Kind() const {
    return valueType_ == vtFloat ? numtext::FieldKind::Decimal : numtext::FieldKind::Whole;
}

std::string LocaleDecimalSeparator() { return QLocale().decimalPoint().toStdString(); }

double TSpinEdit::Value() const { return numtext::FieldValue(Text(), Kind(), LocaleDecimalSeparator()); }

long long TSpinEdit::AsInteger() const {
    const double v = Value();
    return std::fabs(v) < 9.0e18 ? std::llround(v) : 0;
}

void TSpinEdit::SetValue(double value) {
    ShowText(numtext::FieldText(value, Kind(), range_, LocaleDecimalSeparator()));
}

std::string TSpinEdit::Text() const { return lineEdit()->text().toStdString(); }

void TSpinEdit::SetText(const std::string& text) { ShowText(text); }

void TSpinEdit::ShowText(const std::string& text) {
    const QString shown = QString::fromStdString(text);
    if (lineEdit()->text() != shown) lineEdit()->setText(shown);
    update();  // the arrows' enabled look follows the value
}

void TSpinEdit::Step(double delta) {
    ShowText(numtext::SteppedText(Text(), delta, Kind(), range_, LocaleDecimalSeparator()));
    if (hasFocus()) selectAll();
}

void TSpinEdit::stepBy(int steps) { Step(steps * increment_); }

QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const {
    if (isReadOnly()) return StepNone;
    if (range_.max <= range_.min) return StepUpEnabled | StepDownEnabled;
    const double v = Value();
    StepEnabled enabled = StepNone;
    if (v < range_.max) enabled |= StepUpEnabled;
    if (v > range_.min) enabled |= StepDownEnabled;
    return enabled;
}

QValidator::State TSpinEdit::validate(QString& input, int& /*pos*/) const {
    // Typing is free within the characters of a number; whether it parses is decided when it
    // is read.
    const QString separator = QLocale().decimalPoint();
    for (const QChar c : input) {
        if (c.isDigit() && c.unicode() < 0x80) continue;
        if (c == u' ' || c == u'+' || c == u'-') continue;
        if (valueType_ == vtFloat && (c == u'e' || c == u'E' || separator.contains(c))) continue;
        return QValidator::Invalid;
    }
    return QValidator::Intermediate;
}

void TSpinEdit::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_PageUp:
        Step(pageIncrement_);
        event->accept();
        return;
    case Qt::Key_PageDown:
        Step(-pageIncrement_);
        event->accept();
        return;
    default:
        break;
    }
    // Either key of a decimal point (the keypad's included) types the locale's separator.
    const QString separator = QLocale().decimalPoint();
    if (valueType_ == vtFloat && (event->text() == u"." || event->text() == u",") &&
        event->text() != separator) {
        QKeyEvent typed(event->type(), event->key(), event->modifiers(), separator,
                        event->isAutoRepeat(), static_cast<ushort>(event->count()));
        QAbstractSpinBox::keyPressEvent(&typed);
        event->setAccepted(typed.isAccepted());
        return;
    }
    QAbstractSpinBox::keyPressEvent(event);
}

void TSpinEdit::focusOutEvent(QFocusEvent* event) {
    QAbstractSpinBox::focusOutEvent(event);
    if (const auto text = numtext::TextAfterFocusOut(Text(), Kind(), range_, LocaleDecimalSeparator()))
        ShowText(*text);
}
