// Splitting text files into lines and lines into fields; reading files.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "TempDir.h"
#include "CsvText.h"

namespace {

using Strings = std::vector<std::string>;
const csv::Dialect kGCode{';', '"', true};

TEST(SplitCsvLine, QuotesCountOverTheWholeLine) {
    struct Case {
        const char* line;
        Strings fields;
    };
    const Case cases[] = {
        {"G1 X10 Y5 ; move to start", {"G1 X10 Y5 ", " move to start"}},
        {"G0 X0;\"a;b\";c", {"G0 X0", "a;b", "c"}},
        {"X\"1;2", {"X\"1;2"}},
        {"\"ab\"cd;\"a\"\"b\";\"abc", {"ab", "a\"b", "abc"}},
        {"A;B;C;D;E", {"A", "B", "C", "D", "E"}},
        {"", {""}},
        {";", {"", ""}},
        {" \tx ;", {" \tx ", ""}},
        {"\"\"", {""}},
        {"\"a\"\"\"", {"a\""}},
        {"x;\"y\"z;\"p;q", {"x", "y", "p;q"}},  // the third quote opens the rest
    };
    for (const auto& c : cases) {
        const std::string_view line = c.line;
        EXPECT_EQ(csv::SplitCsvLine(line, kGCode), c.fields) << line;
        EXPECT_EQ(csv::CountFields(line, kGCode), c.fields.size()) << line;
        for (std::size_t i = 0; i <= c.fields.size(); ++i)
            EXPECT_EQ(csv::Field(line, i, kGCode), i < c.fields.size() ? c.fields[i] : "");
        // The raw field bounds a cell is cut from, whole and cut short.
        const std::vector<std::size_t> starts = csv::FieldStarts(line, kGCode, 100);
        ASSERT_EQ(starts.size(), c.fields.size()) << line;
        for (std::size_t i = 0; i < starts.size(); ++i) {
            const std::size_t end = i + 1 < starts.size() ? starts[i + 1] - 1 : line.size();
            const std::string_view raw = line.substr(starts[i], end - starts[i]);
            EXPECT_EQ(csv::FinishedField(raw, kGCode), c.fields[i]) << line;
            EXPECT_EQ(csv::FinishedField(raw, kGCode, 2), c.fields[i].substr(0, 2)) << line;
        }
        const std::size_t few = std::min<std::size_t>(2, c.fields.size());
        EXPECT_EQ(csv::FieldStarts(line, kGCode, 1),
                  std::vector<std::size_t>(starts.begin(), starts.begin() + static_cast<std::ptrdiff_t>(few)));
    }
    EXPECT_EQ(csv::SplitCsvLine("\"a\"b;c", {';', '"', false}), (Strings{"\"a\"b", "c"}));
}

Strings LinesOf(const std::string& text) {
    const csv::Document doc(text, kGCode);
    Strings lines;
    for (std::size_t i = 0; i < doc.LineCount(); ++i) lines.emplace_back(doc.Line(i));
    return lines;
}

TEST(Document, EveryLineBreakRule) {
    using namespace std::string_literals;
    struct Case {
        std::string text;
        Strings lines;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb", {"a", "b"}},
        {"a\rb", {"a", "b"}},
        {"a\nb", {"a", "b"}},
        {"a\n", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r", {"a"}},
        {"\n", {""}},
        {"\r\n\r\n", {"", ""}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\r\r\nb", {"a", "", "b"}},
        {"a\n\r", {"a", ""}},
        {"N1 G71\r\n", {"N1 G71"}},
        {" x \t\r\n\ty ", {" x \t", "\ty "}},
        {"a\0b\nc"s, {"a"}},
        {"\0abc"s, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(LinesOf(c.text), c.lines) << testing::PrintToString(c.text);
}

TEST(Document, CountsTheWidestLine) {
    EXPECT_EQ(csv::Document("", kGCode).MaxFieldCount(), 0u);
    EXPECT_EQ(csv::Document("a\nb;c;\"d;e\"\r\nf", kGCode).MaxFieldCount(), 3u);
    EXPECT_EQ(csv::Document("\"x\n;;;", kGCode).MaxFieldCount(), 4u);  // quotes end at the break
}

// Lines as the break rules above define them, the plain way: the reference for the index.
Strings PlainLines(std::string text) {
    text = text.substr(0, text.find('\0'));
    Strings lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') {
            line += text[i];
            continue;
        }
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        lines.push_back(std::move(line));
        line.clear();
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

// Lines short and long, empty runs and every kind of break, so that lines fall on, before
// and after the index's marks and across its stretches.
TEST(Document, FindsEveryLineOfLongAndShortLines) {
    std::mt19937 random(7);
    const std::size_t lengths[] = {0, 0, 0, 1, 7, 30, 400, 1023, 1024, 1500, 5000};
    const char* const breaks[] = {"\n", "\r\n", "\r"};
    std::string text;
    for (int i = 0; i < 4000; ++i) {
        const std::size_t length = lengths[random() % std::size(lengths)];
        for (std::size_t k = 0; k < length; ++k) text += static_cast<char>('a' + (i + k) % 26);
        text += breaks[random() % std::size(breaks)];
    }
    for (const std::string& variant : {text, text + "tail", text.substr(0, text.size() / 2)}) {
        const Strings expected = PlainLines(variant);
        const csv::Document doc(variant, kGCode);
        ASSERT_EQ(doc.LineCount(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(doc.Line(i), expected[i]) << i;
        EXPECT_THROW(doc.Line(expected.size()), std::out_of_range);
    }
}

// The limit is checked while scanning: the line beyond it ends the scan, yet a break at the
// very end, which starts no line, is not counted against it.
TEST(Document, RefusesMoreLinesThanTheLimit) {
    using namespace std::string_literals;
    struct Case {
        std::string text;
        std::size_t limit;
        bool taken;
    };
    const Case cases[] = {
        {"", 0, true},
        {"a", 0, false},
        {"a\nb\nc", 3, true},
        {"a\nb\nc\n", 3, true},
        {"a\r\nb\r\nc\r\n", 3, true},
        {"a\nb\nc\nd", 3, false},
        {"a\nb\nc\n\n", 3, false},
        {"\n\n\n\n", 3, false},
        {"\n\n\n", 3, true},
        {"a\nb\nc\n\0d\ne\n"s, 3, true},  // the text ends at the NUL
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text) + " limit " + std::to_string(c.limit));
        if (c.taken) {
            EXPECT_LE(csv::Document(c.text, kGCode, c.limit).LineCount(), c.limit);
        } else {
            EXPECT_THROW(csv::Document(c.text, kGCode, c.limit), csv::ETooManyLines);
        }
    }
}

// The line index is a fraction of the text, even for a text of nothing but line breaks.
TEST(Document, IndexOfEmptyLinesStaysSmallBesideTheText) {
    const std::string text(1 << 20, '\n');
    const csv::Document doc(text, kGCode);
    ASSERT_EQ(doc.LineCount(), text.size());
    EXPECT_EQ(doc.Line(text.size() - 1), "");
    EXPECT_LE(doc.MemoryUsed(), text.size() + text.size() / 2);
}

}  // namespace

namespace {

using consoletest::TempDir;

std::string OpenError(const std::string& path) {
    try {
        csv::ReadFileBytes(path);
    } catch (const EFOpenError& e) {
        return e.Message();
    }
    return "(read)";
}

TEST(ReadFileBytes, ReadsRegularFilesWholeAndNamesWhatFails) {
    const TempDir dir;
    using namespace std::string_literals;
    const std::string binary = "G1\0\xff\xfe\x01"s;
    EXPECT_EQ(csv::ReadFileBytes(dir.File("bin.nc", binary)), binary);
    EXPECT_EQ(csv::ReadFileBytes(dir.File("Fräskopf ü.nc", "N1 G71\r\n")), "N1 G71\r\n");
    EXPECT_EQ(csv::ReadFileBytes(dir.File("empty.nc", "")), "");

    const std::string fifo = dir.Path() + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string prefix = "Datei " + dir.Path();
    // The system's own texts, in whatever language the process locale gives them.
    const auto why = [](int error) { return std::generic_category().message(error); };
    const struct {
        std::string path;
        std::string message;
    } failures[] = {
        {dir.Path() + "/missing.nc", prefix + "/missing.nc kann nicht geöffnet werden. " + why(ENOENT)},
        {dir.Path(), prefix + " kann nicht geöffnet werden. " + why(EISDIR)},
        // A pipe is refused without opening it: opening would wait for a writer.
        {fifo, prefix + "/pipe kann nicht geöffnet werden. " + why(ENOTSUP)},
        {"/dev/null", "Datei /dev/null kann nicht geöffnet werden. " + why(ENOTSUP)},
    };
    for (const auto& f : failures) EXPECT_EQ(OpenError(f.path), f.message);

}

TEST(Document, LoadRefusesAFileOfTooManyLinesAsTooLarge) {
    const TempDir dir;
    const std::string path = dir.File("many.nc", "\n\n\n");
    try {
        csv::Document::Load(path, kGCode, 2);
        ADD_FAILURE() << "taken";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Datei " + path + " kann nicht geöffnet werden. " +
                                   std::generic_category().message(EFBIG));
    }
    EXPECT_EQ(csv::Document::Load(path, kGCode, 3).LineCount(), 3u);
}

TEST(ReadFileBytes, UnreadableFileGivesTheSystemText) {
    const TempDir dir;
    const std::string path = dir.File("locked.nc", "G0\n");
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    if (::access(path.c_str(), R_OK) == 0)
        GTEST_SKIP() << "this user (root) reads a file without read permission anyway";
    EXPECT_EQ(OpenError(path), "Datei " + path + " kann nicht geöffnet werden. " +
                                  std::generic_category().message(EACCES));
}

}  // namespace
