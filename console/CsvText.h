#pragma once
// Text files as tables: reading a file whole, cutting it into lines, and splitting a line into
// fields at a separator outside quotes. Plain C++, no Qt.
//
// A document holds the file's bytes once and the start of every line; the fields of a line
// are cut when they are asked for. So a file of a million lines costs about its own size.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Errors.h"

// A file could not be opened or read. The message names the file's full path and the
// system's text for the error.
class EFOpenError : public Exception {
public:
    using Exception::Exception;
};

namespace csv {

// The settings of a split: field separator, quote character and whether fields that begin
// with the quote are unquoted.
struct Dialect {
    char separator = ';';
    char quote = '"';
    bool unquote = true;
};

// Splits one line into its fields. A quote counter runs over the whole line: while it is odd,
// separators are ordinary characters. n separators outside quotes give n + 1 fields; an empty
// line gives one empty field. Fields that begin with the quote are unquoted when asked
// (UnquoteField); all others are kept as they are.
std::vector<std::string> SplitCsvLine(std::string_view line, const Dialect& dialect);

// The number of fields SplitCsvLine gives, without building them.
std::size_t CountFields(std::string_view line, const Dialect& dialect);

// Field `index` of the line as SplitCsvLine gives it; empty when the line has fewer.
std::string Field(std::string_view line, std::size_t index, const Dialect& dialect);

// The unquoted form of a field that begins with `quote`: the opening quote dropped, the text
// up to the next quote that is not doubled, each doubled quote in it standing for one; the
// closing quote and anything after it dropped. Without a closing quote the text runs to the
// end. A field that does not begin with the quote is returned unchanged.
std::string UnquoteField(std::string_view field, char quote);

// Reads the whole file. Only regular files are read (a device or pipe is never opened: that
// could block or change the device's state). Throws EFOpenError with the message
// "Datei <full path> kann nicht geöffnet werden. <system text>".
std::string ReadFileBytes(const std::string& path);

// The message of EFOpenError for `path` and the system error number.
std::string OpenErrorMessage(const std::string& path, int errorNumber);

// A text cut into lines at CR LF, at a lone CR and at a lone LF. A break at the very end adds
// no empty line; a NUL byte ends the text. Lines keep all their other characters.
class Document {
public:
    Document() = default;
    // Takes the text; `dialect` is used to count the fields of every line on the way.
    Document(std::string text, const Dialect& dialect);

    // Reads and cuts the file (see ReadFileBytes for the errors).
    static Document Load(const std::string& path, const Dialect& dialect);

    std::size_t LineCount() const { return starts_.size(); }
    std::string_view Line(std::size_t index) const;
    // The largest number of fields of any line (0 for no lines).
    std::size_t MaxFieldCount() const { return maxFields_; }
    const Dialect& GetDialect() const { return dialect_; }

    // Bytes held: the text and the line table.
    std::size_t MemoryUsed() const;

private:
    void Scan();

    std::string text_;
    std::vector<std::uint64_t> starts_;
    std::size_t maxFields_ = 0;
    Dialect dialect_;
};

}  // namespace csv
