// TextToChar on arbitrary text: never fails, and whatever it yields survives its own stored
// form unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ComPersist.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::uint8_t code = TextToChar(text);
    if (TextToChar(CharText(code)) != code) std::abort();
    if (text.size() == 1 && code != static_cast<std::uint8_t>(text[0])) std::abort();
    if (!text.empty() && text[0] != '#' && code != static_cast<std::uint8_t>(text[0])) std::abort();
    return 0;
}
