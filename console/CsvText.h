#pragma once
// Text files as tables: reading a file whole, cutting it into lines, and splitting a line into
// fields at a separator outside quotes. Plain C++, no Qt.
//
// A document holds the file's bytes once and the start of every 32nd line (more often where
// lines are long); a line is found from the nearest such mark, and its fields are cut when
// they are asked for. So a file costs little more than its own size, even one of empty lines.

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

// Where the raw fields of a line begin (before unquoting), as offsets into the line: the
// start of field 0 (always 0) and of each later one, at most `maxFields` + 1 of them, so that
// the end of each of the first `maxFields` fields is known: field k ends one byte (its
// separator) before the start of field k + 1, the last field of the line at the line's end.
std::vector<std::size_t> FieldStarts(std::string_view line, const Dialect& dialect,
                                     std::size_t maxFields);

// A field as SplitCsvLine gives it, from its raw text, cut to at most `maxBytes` bytes
// without producing more (a megabyte field shown in a cell costs what the cell shows).
std::string FinishedField(std::string_view raw, const Dialect& dialect,
                          std::size_t maxBytes = std::string::npos);

// The unquoted form of a field that begins with `quote`: the opening quote dropped, the text
// up to the next quote that is not doubled, each doubled quote in it standing for one; the
// closing quote and anything after it dropped. Without a closing quote the text runs to the
// end. A field that does not begin with the quote is returned unchanged. At most `maxBytes`
// bytes of the result are made.
std::string UnquoteField(std::string_view field, char quote,
                         std::size_t maxBytes = std::string::npos);

// Reads the whole file. Only regular files are read (a device or pipe is never opened: that
// could block or change the device's state). Throws EFOpenError with the message
// "Datei <full path> kann nicht geöffnet werden. <system text>".
std::string ReadFileBytes(const std::string& path);

// The message of EFOpenError for `path` and the system error number.
std::string OpenErrorMessage(const std::string& path, int errorNumber);

// A text has more lines than its reader takes.
class ETooManyLines : public Exception {
public:
    using Exception::Exception;
};

// A text cut into lines at CR LF, at a lone CR and at a lone LF. A break at the very end adds
// no empty line; a NUL byte ends the text. Lines keep all their other characters.
class Document {
public:
    static constexpr std::size_t kNoLimit = static_cast<std::size_t>(-1);

    Document() = default;
    // Takes the text; `dialect` is used to count the fields of every line on the way. A text
    // of more than `maxLines` lines throws ETooManyLines as soon as the scan meets the line
    // beyond the limit, before the rest is looked at.
    Document(std::string text, const Dialect& dialect, std::size_t maxLines = kNoLimit);

    // Reads and cuts the file (see ReadFileBytes for the errors); a file of more than
    // `maxLines` lines throws EFOpenError with the system's text for "file too large".
    static Document Load(const std::string& path, const Dialect& dialect,
                         std::size_t maxLines = kNoLimit);

    std::size_t LineCount() const { return lineCount_; }
    // Costs a search among the marks and a walk of at most one mark's stretch, whatever the
    // file's size and the lengths of its lines. Throws std::out_of_range past the last line.
    std::string_view Line(std::size_t index) const;
    // The largest number of fields of any line (0 for no lines).
    std::size_t MaxFieldCount() const { return maxFields_; }
    const Dialect& GetDialect() const { return dialect_; }

    // Bytes held: the text and the line table.
    std::size_t MemoryUsed() const;

    // A mark every kMarkLines lines, and at the first line that starts kMarkBytes or more
    // after the previous mark: finding a line never walks more than that.
    static constexpr std::size_t kMarkLines = 32;
    static constexpr std::size_t kMarkBytes = 1024;

private:
    struct Mark {
        std::uint64_t line;
        std::uint64_t offset;
    };
    void Scan(std::size_t maxLines);
    // Where the line after the one that starts at `start` starts (past its CR, LF or CR LF),
    // looking for its break before `limit` only.
    std::size_t NextStart(std::size_t start, std::size_t limit) const;

    std::string text_;
    std::vector<Mark> marks_;  // ascending; the first is line 0 at offset 0
    std::size_t lineCount_ = 0;
    std::size_t maxFields_ = 0;
    Dialect dialect_;
};

}  // namespace csv
