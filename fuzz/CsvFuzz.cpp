// Fuzzes the text-file table rules: cutting a text into lines and lines into fields. The first
// byte picks the separator and the quote (ordinary ones and awkward ones: equal to each other,
// to a line break or to NUL); the rest is the text. For any input:
//  - the lines are those of a plain character-by-character cut (CR LF, lone CR, lone LF; no
//    line from a final break; NUL ends the text);
//  - the widest line's field count is the largest CountFields of the lines;
//  - for every line, SplitCsvLine, CountFields and Field agree; without unquoting the fields
//    joined by the separator give the line back; with unquoting every field is its raw field,
//    or, for a raw field that opens with the quote, one whose quoted form the raw field starts
//    with (up to a missing closing quote).
// Built with -DTARNWICK_LIBFUZZER for libFuzzer; otherwise a program that replays the files
// (or directories of files) named on its command line.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "CsvText.h"

namespace {

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "CsvFuzz: invariant broken: %s\n", what);
    std::abort();
}

std::vector<std::string> PlainLines(std::string_view text) {
    std::vector<std::string> lines;
    std::string line;
    bool open = false;  // characters since the last break
    for (std::size_t i = 0; i < text.size() && text[i] != '\0'; ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            open = false;
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            line += c;
            open = true;
        }
    }
    if (open) lines.push_back(line);
    return lines;
}

std::string Quoted(std::string_view s, char quote) {
    std::string out(1, quote);
    for (const char c : s) {
        out += c;
        if (c == quote) out += quote;
    }
    return out + quote;
}

void CheckLine(std::string_view line, char sep, char quote) {
    const csv::Dialect raw{sep, quote, false};
    const csv::Dialect unquoting{sep, quote, true};
    const auto pieces = csv::SplitCsvLine(line, raw);
    const auto fields = csv::SplitCsvLine(line, unquoting);
    Check(!pieces.empty(), "a line gives a field");
    Check(pieces.size() == fields.size(), "unquoting keeps the number of fields");
    Check(csv::CountFields(line, unquoting) == fields.size(), "CountFields agrees");

    std::string joined;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) joined += sep;
        joined += pieces[i];
        Check(csv::Field(line, i, unquoting) == fields[i], "Field agrees");
        const std::string& p = pieces[i];
        if (p.empty() || p.front() != quote) {
            Check(fields[i] == p, "a field without an opening quote stays as it is");
        } else {
            const std::string q = Quoted(fields[i], quote);
            Check(p.starts_with(q) || p == q.substr(0, q.size() - 1),
                  "the raw field starts with the field's quoted form");
        }
    }
    Check(joined == line, "raw fields joined give the line");
    const auto starts = csv::FieldStarts(line, unquoting, pieces.size());
    Check(starts.size() == pieces.size(), "FieldStarts finds every field");
    for (std::size_t i = 0; i < starts.size() && i < pieces.size(); ++i)
        Check(line.substr(starts[i], pieces[i].size()) == pieces[i], "FieldStarts agrees");
    Check(csv::Field(line, pieces.size(), unquoting).empty(), "no field past the last");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static constexpr char kSeparators[] = {';', ',', '"', '\n', '\0', '\t', '\r', 'a'};
    static constexpr char kQuotes[] = {'"', '\'', ';', '\r', '\0', '"', '\n', 'a'};
    const char sep = kSeparators[data[0] & 7];
    const char quote = kQuotes[(data[0] >> 3) & 7];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    const csv::Document doc(text, {sep, quote, true});
    const auto expected = PlainLines(text);
    Check(doc.LineCount() == expected.size(), "line count");
    std::size_t widest = 0;
    for (std::size_t i = 0; i < doc.LineCount(); ++i) {
        const std::string_view line = doc.Line(i);
        Check(line == expected[i], "line text");
        widest = std::max(widest, csv::CountFields(line, doc.GetDialect()));
        CheckLine(line, sep, quote);
    }
    Check(doc.MaxFieldCount() == widest, "widest line");
    return 0;
}
