#include "Strings.h"

namespace {
unsigned char Fold(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}
}  // namespace

int CompareText(const std::string& a, const std::string& b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = Fold(a[i]), y = Fold(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CompareText(a, b) == 0;
}

void TStrings::Assign(const std::vector<std::string>& texts) {
    Clear();
    for (const std::string& t : texts) Add(t);
}

int TStrings::IndexOfText(const std::string& text) const {
    const int n = Count();
    for (int i = 0; i < n; ++i)
        if (SameText(Get(i), text)) return i;
    return -1;
}

std::vector<std::string> TStrings::ToVector() const {
    std::vector<std::string> out;
    const int n = Count();
    out.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) out.push_back(Get(i));
    return out;
}
