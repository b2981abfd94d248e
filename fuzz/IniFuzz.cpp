// Fuzzes the INI parser and writer. For any input text:
//  - parsing and printing an unchanged document gives the text back byte for byte;
//  - after setting a value, the printed text parses to a document in which that value reads
//    back (trimmed) and every other value that was readable before reads the same;
//  - a refused write changes nothing;
//  - every value, read as an integer, gives a number that reads back from its own decimal
//    text, or nothing; decimal text without a sign or blanks agrees with strtoll.
// Without libFuzzer, ReplayMain.cpp feeds it the committed corpus.

#include <climits>
#include <cstdint>
#include <optional>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "IniFile.h"

namespace {

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "IniFuzz: invariant broken: %s\n", what);
    std::abort();
}

std::string_view Trim(std::string_view s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
    const auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
    a = Trim(a);
    b = Trim(b);
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

using TValues = std::vector<std::tuple<std::string, std::string, std::string>>;

TValues Readable(const TIniDocument& doc) {
    TValues values;
    for (const std::string& section : doc.SectionNames())
        for (const std::string& key : doc.KeyNames(section)) {
            const std::optional<std::string> value = doc.Value(section, key);
            Check(value.has_value(), "listed key has a value");
            values.emplace_back(section, key, *value);
        }
    return values;
}

void TrySet(const std::string& text, const std::string& section, const std::string& key,
            const std::string& value) {
    TIniDocument doc = TIniDocument::Parse(text);
    const TValues before = Readable(doc);
    try {
        doc.SetValue(section, key, value);
    } catch (const EIniFileException&) {
        Check(doc.Text() == text, "refused write changes nothing");
        return;
    }
    const std::string written = doc.Text();
    const TIniDocument reread = TIniDocument::Parse(written);
    Check(reread.Text() == written, "written text round-trips");
    const std::optional<std::string> got = reread.Value(section, key);
    Check(got.has_value() && *got == Trim(value), "written value reads back");
    for (const auto& [s, k, v] : before) {
        if (SameName(s, section) && SameName(k, key)) continue;
        Check(reread.Value(s, k) == v, "other values unchanged");
    }
    for (const std::string& s : TIniDocument::Parse(text).SectionNames())
        Check(reread.HasSection(s), "sections kept");
    Check(reread.HasSection(section), "written section exists");
}

// The integer read of one stored text.
void CheckIntegerRead(const std::string& text) {
    const std::optional<int32_t> n = framework::ParseInt32(text);
    if (n) Check(framework::ParseInt32(std::to_string(*n)) == n, "an integer reads back");
    const bool plainDecimal = !text.empty() && text.size() <= 18 &&
                              text.find_first_not_of("0123456789") == std::string::npos;
    if (plainDecimal) {
        const long long expected = std::strtoll(text.c_str(), nullptr, 10);
        const bool fits = expected <= INT32_MAX;
        Check(n.has_value() == fits, "decimal text reads when it fits");
        if (fits) Check(*n == expected, "decimal text reads its value");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const TIniDocument doc = TIniDocument::Parse(text);
    Check(doc.Text() == text, "unchanged document round-trips");

    // Names and a value taken from the input's tail, so the fuzzer steers them too (they may
    // well be refused; then nothing may change).
    const std::string tail = text.substr(size > 48 ? size - 48 : 0);
    const std::string freeSection = tail.substr(0, 16);
    const std::string freeKey = tail.size() > 16 ? tail.substr(16, 16) : "k";
    const std::string freeValue = tail.size() > 32 ? tail.substr(32) : " v ";

    for (const auto& [s, k, v] : Readable(doc)) CheckIntegerRead(v);
    CheckIntegerRead(text.substr(0, 24));

    const std::vector<std::string> sections = doc.SectionNames();
    if (!sections.empty()) {
        const std::vector<std::string> keys = doc.KeyNames(sections.front());
        if (!keys.empty()) TrySet(text, sections.front(), keys.front(), "changed");  // existing key
        TrySet(text, sections.back(), "FuzzNewKey", freeValue);                      // new key
    }
    TrySet(text, "FuzzNewSection", "Key", "v");  // new section (or existing, if the input has it)
    TrySet(text, freeSection, freeKey, freeValue);
    return 0;
}
