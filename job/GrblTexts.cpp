#include "GrblTexts.h"

#include <iterator>

namespace job {

namespace {

struct Coded {
    int code;
    std::string_view words;
};

// Written from the controller's documented meanings of each code.
constexpr Coded kErrors[] = {
    {1, "Ein Wort der Zeile beginnt nicht mit einem Buchstaben"},
    {2, "Eine Zahl fehlt oder ist falsch geschrieben"},
    {3, "Unbekannter oder falsch geschriebener $-Befehl"},
    {4, "Der Wert darf nicht negativ sein"},
    {5, "Die Referenzfahrt ist in den Einstellungen ausgeschaltet"},
    {6, "Der Schrittimpuls muss mindestens 3 Mikrosekunden lang sein"},
    {7, "Die Einstellungen waren nicht lesbar; die Grundwerte gelten"},
    {8, "Dieser $-Befehl geht nur bei stehender Maschine"},
    {9, "G-Code gesperrt: erst Alarm aufheben ($X) oder Referenzfahrt ($H)"},
    {10, "Software-Endschalter brauchen die Referenzfahrt"},
    {11, "Die Zeile ist zu lang für die Steuerung"},
    {12, "Die Schrittrate ist zu hoch für die Steuerung"},
    {13, "Die Sicherheitstür ist offen"},
    {14, "Der Text ist zu lang zum Speichern"},
    {15, "Die Tippfahrt führt über den Verfahrbereich hinaus"},
    {16, "Ungültiger Tippbefehl"},
    {17, "Der Lasermodus braucht einen PWM-Ausgang"},
    {20, "Diesen Befehl kennt die Steuerung nicht"},
    {21, "Zwei Befehle derselben Gruppe in einer Zeile"},
    {22, "Es ist kein Vorschub (F) gesetzt"},
    {23, "Der Wert muss eine ganze Zahl sein"},
    {24, "Zwei Befehle in der Zeile brauchen beide die Achswerte"},
    {25, "Ein Wort steht zweimal in der Zeile"},
    {26, "Der Befehl braucht Achswerte, die Zeile hat keine"},
    {27, "Ungültige Zeilennummer (N)"},
    {28, "Dem Befehl fehlt ein nötiger Wert"},
    {29, "Die Koordinatensysteme G59.1 bis G59.3 gibt es nicht"},
    {30, "G53 geht nur zusammen mit G0 oder G1"},
    {31, "Achswerte in der Zeile, die kein Befehl braucht"},
    {32, "Kreisbogen ohne Achswerte in der gewählten Ebene"},
    {33, "Das Ziel der Bewegung ist ungültig"},
    {34, "Kreisbogen: der Radius passt nicht zu Start und Ziel"},
    {35, "Kreisbogen ohne Mittelpunktwerte (I, J, K) in der Ebene"},
    {36, "Die Zeile hat Werte, die kein Befehl nutzt"},
    {37, "Die Werkzeuglängenkorrektur geht nur in Z"},
    {38, "Die Werkzeugnummer ist zu groß"},
};

constexpr Coded kAlarms[] = {
    {1, "Endschalter ausgelöst; die Position ist verloren"},
    {2, "Das Ziel liegt außerhalb des Verfahrbereichs"},
    {3, "Zurückgesetzt während die Maschine fuhr; die Position ist verloren"},
    {4, "Antasten: der Taster war schon vor dem Start ausgelöst"},
    {5, "Antasten: der Taster hat nichts berührt"},
    {6, "Referenzfahrt abgebrochen (zurückgesetzt)"},
    {7, "Referenzfahrt abgebrochen (Sicherheitstür offen)"},
    {8, "Referenzfahrt: der Endschalter ließ sich nicht freifahren"},
    {9, "Referenzfahrt: kein Endschalter gefunden"},
};

// The words 0.9j prints instead of numbers.
constexpr Coded kErrorTexts09[] = {
    {1, "Expected command letter"},
    {2, "Bad number format"},
    {3, "Invalid statement"},
    {4, "Value < 0"},
    {5, "Setting disabled"},
    {6, "Value < 3 usec"},
    {7, "EEPROM read fail. Using defaults"},
    {8, "Not idle"},
    {9, "Alarm lock"},
    {10, "Homing not enabled"},
    {11, "Line overflow"},
    {12, "Step rate > 30kHz"},
    {20, "Unsupported command"},
    {21, "Modal group violation"},
    {22, "Undefined feed rate"},
};
constexpr Coded kAlarmTexts09[] = {
    {1, "Hard limit"},         {1, "Hard/soft limit"}, {2, "Soft limit"},
    {3, "Abort during cycle"}, {5, "Probe fail"},      {9, "Homing fail"},
};

template <std::size_t N> std::string_view Lookup(const Coded (&table)[N], int code) {
    for (const Coded& c : table)
        if (c.code == code) return c.words;
    return {};
}

template <std::size_t N> int CodeOf(const Coded (&table)[N], std::string_view text) {
    for (const Coded& c : table)
        if (c.words == text) return c.code;
    return 0;
}

std::string Describe(std::string_view words, std::string_view head, std::string_view detail) {
    std::string text;
    if (!words.empty()) text = std::string(words) + " (";
    text += head;
    text += detail;
    if (!words.empty()) text += ")";
    return text;
}

} // namespace

std::string_view ErrorText(int code) {
    return Lookup(kErrors, code);
}
std::string_view AlarmText(int code) {
    return Lookup(kAlarms, code);
}
int ErrorCodeOfText(std::string_view text) {
    return CodeOf(kErrorTexts09, text);
}
int AlarmCodeOfText(std::string_view text) {
    return CodeOf(kAlarmTexts09, text);
}

std::string DescribeError(int code, std::string_view detail) {
    return Describe(ErrorText(code), "error:", detail);
}
std::string DescribeAlarm(int code, std::string_view detail) {
    return Describe(AlarmText(code), "ALARM:", detail);
}

} // namespace job
