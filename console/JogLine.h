#pragma once
// The command lines of the jog buttons. The distance is formatted as the operator's locale
// shows it and then given a decimal point, so the controller always reads a point.

#include <string>
#include <string_view>

namespace jog {

// The distance as it goes on the wire: numtext::FloatToText in the locale's format, then
// every "," (and the locale's separator, whatever it is) turned into ".".
std::string DistanceText(double distance, std::string_view decimalSeparator);

// "G91 F<feed><axis word><distance>", for example "G91 F100 G1 X10" or "G91 F300 G1 Y-0.25".
// `axisWord` is one of " G1 X", " G1 X-", " G1 Y", " G1 Y-"; the feed is written whole.
std::string XYLine(std::string_view axisWord, double distance, double feed,
                   std::string_view decimalSeparator);

// "<head><distance>" with head "G91 G1 Z" or "G91 G1 Z-": no feed word, the controller moves
// Z at the feed it was given last.
std::string ZLine(std::string_view head, double distance, std::string_view decimalSeparator);

}  // namespace jog
