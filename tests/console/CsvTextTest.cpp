// Splitting text files into lines and lines into fields; reading files.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
        EXPECT_EQ(csv::SplitCsvLine(c.line, kGCode), c.fields) << c.line;
        EXPECT_EQ(csv::CountFields(c.line, kGCode), c.fields.size()) << c.line;
        for (std::size_t i = 0; i <= c.fields.size(); ++i)
            EXPECT_EQ(csv::Field(c.line, i, kGCode), i < c.fields.size() ? c.fields[i] : "");
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
