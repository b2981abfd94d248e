#include "JogLine.h"

#include "NumberText.h"

namespace jog {

namespace {

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty()) return std::string(text);
    std::string out;
    for (std::size_t at = 0;;) {
        const std::size_t hit = text.find(from, at);
        out.append(text.substr(at, hit - at));
        if (hit == std::string_view::npos) return out;
        out.append(to);
        at = hit + from.size();
    }
}

}  // namespace

std::string DistanceText(double distance, std::string_view decimalSeparator) {
    const std::string text = numtext::FloatToText(distance, decimalSeparator);
    // A locale whose separator is neither "," nor "." would otherwise put a character on the
    // wire that the controller cannot read.
    return ReplaceAll(ReplaceAll(text, decimalSeparator, "."), ",", ".");
}

std::string XYLine(std::string_view axisWord, double distance, double feed,
                   std::string_view decimalSeparator) {
    std::string line = "G91 F";
    line += numtext::WholeToText(feed);
    line += axisWord;
    line += DistanceText(distance, decimalSeparator);
    return line;
}

std::string ZLine(std::string_view head, double distance, std::string_view decimalSeparator) {
    std::string line(head);
    line += DistanceText(distance, decimalSeparator);
    return line;
}

}  // namespace jog
