#pragma once
// INI files with private-profile behaviour: sections and keys matched case-insensitively,
// text values, and every line we do not change written back exactly as it was.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Errors.h"

// An INI file could not be read or written, or a name or value cannot be stored in one.
class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

namespace framework {

// Whole-number conversion of settings text: optional leading blanks, an optional sign, then
// decimal digits or "0x"/"0X" and hexadecimal digits, and nothing after them. Hexadecimal
// text is a 32-bit pattern, so 0x80000000 to 0xFFFFFFFF read as negative numbers (0xFFFFFFFF
// is -1); with a minus sign it is the negative of its magnitude. Anything else, or a value
// outside 32 bits, gives nothing.
std::optional<int32_t> ParseInt32(std::string_view text);

// File helpers shared by the INI file and the file-backed key store. Both throw
// std::system_error whose what() names the step that failed and the system error text.
//
// The whole contents of a regular file, or nothing when it does not exist (a missing
// directory on the way counts as missing). Anything that is not a regular file is an error,
// so a directory, FIFO or device never blocks or floods the reader.
std::optional<std::string> ReadFileIfExists(const std::string& path);

// Replaces the file's contents so that a reader sees either the old or the new file, never a
// mixture: writes a temporary file in the same directory, flushes it to disk and renames it
// over the target. An existing file keeps its permission bits; a symbolic link is followed
// so the link stays a link. On failure the target is untouched and the temporary is removed.
void ReplaceFileContents(const std::string& path, std::string_view contents);

// An advisory lock (flock) that serialises read-modify-replace updates of the files in one
// directory, between threads and processes alike. It is taken on the directory that holds
// the file (after following a symbolic link), because every update replaces the file itself:
// a lock on the file would be left on a file nobody reads again, and a lock file beside it
// would remain in the directory. Waits while another writer holds it, up to `timeout`, then
// throws std::system_error (ETIMEDOUT), as for any other failure.
class TFileUpdateLock {
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{10000};

    explicit TFileUpdateLock(const std::string& path, std::chrono::milliseconds timeout = kDefaultTimeout);
    ~TFileUpdateLock();
    TFileUpdateLock(const TFileUpdateLock&) = delete;
    TFileUpdateLock& operator=(const TFileUpdateLock&) = delete;

private:
    int fd_ = -1;
};

}  // namespace framework

// The parsed lines of one INI text. Parsing never fails: lines that are neither a section
// header nor a key line are kept as they are, and Text() of an unchanged document gives back
// the parsed text byte for byte.
class TIniDocument {
public:
    TIniDocument() = default;
    static TIniDocument Parse(std::string_view text);
    std::string Text() const;

    // Lookups use the first section of that name and its first key of that name, as
    // private-profile functions do; names are trimmed and matched ignoring ASCII case.
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;
    bool HasSection(std::string_view section) const;
    std::vector<std::string> SectionNames() const;                  // distinct, file order
    std::vector<std::string> KeyNames(std::string_view section) const;  // distinct, file order

    // Sets a value: an existing key keeps its line, spelling and line ending; a new key goes
    // after the last key of its section, a new section at the end of the text. Throws
    // EIniFileException for a name or value that the file could not hold unambiguously
    // (line breaks, '=' in a key, ']' in a section name, empty names, ...).
    void SetValue(std::string_view section, std::string_view key, std::string_view value);

private:
    enum class TLineKind { Other, Section, Key };
    struct TLine {
        std::string text;        // without its line end
        std::string end;         // "\n" or "\r\n"; the last line may have "" or a lone "\r"
        TLineKind kind = TLineKind::Other;
        std::string name;        // section or key name, trimmed
        size_t valueStart = 0;   // Key: offset of the value in text
    };

    static void Classify(TLine& line, bool first);
    // Index of the first header of the section, or lines_.size().
    size_t FindSection(std::string_view section) const;
    // Index of the first line of the key within the section starting at header, or npos.
    size_t FindKey(size_t header, std::string_view key) const;
    size_t SectionEnd(size_t header) const;
    void Insert(size_t at, std::string text);

    std::vector<TLine> lines_;
    std::string lineEnd_ = "\n";  // used for lines we add
};

// An INI file on disk. Every call reads the file afresh and every write rewrites it at once,
// so changes by other writers are always seen; the files involved are a few lines long.
class TIniFile {
public:
    // `lockTimeout`: how long a write waits for other writers of the directory (see
    // framework::TFileUpdateLock) before it fails.
    explicit TIniFile(std::string fileName,
                      std::chrono::milliseconds lockTimeout = framework::TFileUpdateLock::kDefaultTimeout);
    const std::string& FileName() const { return fileName_; }

    // A missing file reads as empty. A file that exists but cannot be read throws
    // EIniFileException rather than passing off the defaults as stored settings.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;
    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;
    std::vector<std::string> ReadSection(const std::string& section) const;

    // Creates the file when missing (not its directory); throws EIniFileException naming the
    // file and the system error when it cannot be written.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int32_t value);

private:
    TIniDocument Load() const;

    std::string fileName_;
    std::chrono::milliseconds lockTimeout_;
};
