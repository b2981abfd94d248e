#pragma once
// The controller's error and alarm codes in plain words for the operator (German, like the
// window), and the 0.9j texts mapped back to the codes (0.9j reports words, 1.1h numbers).

#include <string>
#include <string_view>

namespace job {

// Plain words for an error code (1.1h numbering; 0.9j uses the same numbers); empty when the
// code is unknown.
std::string_view ErrorText(int code);
// Plain words for an alarm code (1.1h numbering); empty when unknown.
std::string_view AlarmText(int code);

// The code of a 0.9j error or alarm text ("Bad number format", "Hard limit"); 0 if unknown.
int ErrorCodeOfText(std::string_view text);
int AlarmCodeOfText(std::string_view text);

// What the operator reads for an error reply: the plain words and the controller's own
// reply, or only the latter when the code is unknown.
std::string DescribeError(int code, std::string_view detail);
std::string DescribeAlarm(int code, std::string_view detail);

} // namespace job
