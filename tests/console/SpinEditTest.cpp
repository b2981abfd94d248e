// The numeric field: keys, steps, range, focus-out rules and locale texts, offscreen.

#include <QFocusEvent>
#include <QLocale>
#include <QTest>

#include "JogLine.h"
#include "LocaleScope.h"
#include "QtTestSupport.h"
#include "SpinEdit.h"

namespace {

using controlstest::QtTest;
using consoletest::LocaleScope;

struct Locales {
    QLocale locale;
    const char* tenth;  // 0.1 as the field shows it
};
const Locales kLocales[] = {{QLocale(QLocale::German, QLocale::Germany), "0,1"},
                            {QLocale::c(), "0.1"}};

// The distance field of the manual panel.
void MakeDistance(TSpinEdit& e) {
    e.SetValueType(vtFloat);
    e.SetIncrement(0.01);
    e.SetPageIncrement(0.1);
    e.SetMaxValue(1000);
    e.SetValue(0);
    e.show();
}

void LoseFocus(TSpinEdit& e) {
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(&e, &out);
}

using SpinEditTest = QtTest;

TEST_F(SpinEditTest, KeysStepWithinTheRangeInTheLocalesFormat) {
    for (const auto& l : kLocales) {
        LocaleScope scope(l.locale);
        const std::string separator = QLocale().decimalPoint().toStdString();
        TSpinEdit e;
        MakeDistance(e);
        for (int i = 0; i < 10; ++i) QTest::keyClick(&e, Qt::Key_Up);
        EXPECT_EQ(e.Text(), l.tenth);
        EXPECT_EQ(jog::XYLine(" G1 X", e.Value(), 100, separator), "G91 F100 G1 X0.1");

        QTest::keyClick(&e, Qt::Key_PageUp);
        EXPECT_DOUBLE_EQ(e.Value(), 0.2);
        e.SetIncrement(10);  // what the "10" button does: the value stays
        EXPECT_DOUBLE_EQ(e.Value(), 0.2);
        QTest::keyClick(&e, Qt::Key_Up);
        EXPECT_DOUBLE_EQ(e.Value(), 10.2);
        e.SetValue(995);
        QTest::keyClick(&e, Qt::Key_Up);
        EXPECT_EQ(e.Text(), "1000");
        e.SetValue(0.05);
        QTest::keyClick(&e, Qt::Key_PageDown);
        EXPECT_EQ(e.Text(), "0");
    }
}

TEST_F(SpinEditTest, TypingTakesEitherPointKeyAsTheSeparatorAndRejectsLetters) {
    for (const auto& l : kLocales) {
        LocaleScope scope(l.locale);
        TSpinEdit e;
        MakeDistance(e);
        e.SetText("");
        QTest::keyClicks(&e, "0x.5");  // x is refused
        EXPECT_DOUBLE_EQ(e.Value(), 0.5) << e.Text();
        e.SetText("");
        QTest::keyClicks(&e, "0,25");
        EXPECT_DOUBLE_EQ(e.Value(), 0.25) << e.Text();
    }
}

TEST_F(SpinEditTest, FocusOutRules) {
    LocaleScope scope(QLocale(QLocale::German, QLocale::Germany));
    TSpinEdit distance;
    MakeDistance(distance);
    TSpinEdit feed;
    feed.SetValueType(vtInteger);
    feed.SetIncrement(10);
    feed.SetPageIncrement(100);
    feed.SetMaxValue(1000);
    feed.SetValue(100);

    // The rules themselves are tabled with the plain functions; here the field applies them.
    distance.SetText("2500");
    EXPECT_DOUBLE_EQ(distance.Value(), 2500);  // read as typed while it has focus
    LoseFocus(distance);
    EXPECT_EQ(distance.Text(), "1000");
    feed.SetText("0100");
    LoseFocus(feed);
    EXPECT_EQ(feed.Text(), "0100");
    feed.SetText("");
    LoseFocus(feed);
    EXPECT_EQ(feed.Text(), "0");
}

}  // namespace
