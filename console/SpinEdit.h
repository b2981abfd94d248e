#pragma once
// A numeric field with up/down arrows, for decimal or whole numbers. The text is the truth:
// reading the value parses what the field shows at that moment (0 when it does not parse), so
// an entry being typed counts as it stands. The arrows and the Up and Down keys add or subtract
// the step, Page Up and Page Down the page step, and the result is kept within the range.
// Texts are shown and typed in the default locale's number format.

#include <QAbstractSpinBox>
#include <string>

#include "Component.h"
#include "NumberText.h"

enum TValueType { vtInteger, vtFloat };

// The default locale's decimal separator, as the numeric fields show and read it (UTF-8).
std::string LocaleDecimalSeparator();

class TSpinEdit : public QAbstractSpinBox, public TComponent {
public:
    explicit TSpinEdit(TComponent* owner = nullptr, QWidget* parent = nullptr);
    const char* ClassName() const override { return "TSpinEdit"; }

    // Whole numbers or decimals. Changing the kind leaves the text as it is.
    TValueType ValueType() const { return valueType_; }
    void SetValueType(TValueType type);

    // The shown text read as a number; 0 when it does not parse. Not clamped.
    double Value() const;
    // The value as a whole number (rounded).
    long long AsInteger() const;
    // Shows `value`, brought into the range, in the field's number format.
    void SetValue(double value);

    // The arrow step and the page step.
    double Increment() const { return increment_; }
    void SetIncrement(double value) { increment_ = value; }
    double PageIncrement() const { return pageIncrement_; }
    void SetPageIncrement(double value) { pageIncrement_ = value; }

    // The range; with MaxValue <= MinValue the field has none.
    double MinValue() const { return range_.min; }
    void SetMinValue(double value) { range_.min = value; }
    double MaxValue() const { return range_.max; }
    void SetMaxValue(double value) { range_.max = value; }

    // The text as shown (UTF-8). Written as given, without any check.
    std::string Text() const;
    void SetText(const std::string& text);

    // One step of `delta` from the shown value, as the arrows do.
    void Step(double delta);

protected:
    void stepBy(int steps) override;
    StepEnabled stepEnabled() const override;
    QValidator::State validate(QString& input, int& pos) const override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    numtext::FieldKind Kind() const;
    void ShowText(const std::string& text);

    TValueType valueType_ = vtInteger;
    double increment_ = 1;
    double pageIncrement_ = 10;
    numtext::FieldRange range_{0, 100};
};
