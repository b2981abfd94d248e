#pragma once
// A typed key-value store standing in for an open registry key: named values that are either
// text or a 32-bit number, names matched ignoring ASCII case.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Errors.h"

// A value is missing where one is required, has the wrong type, or the store failed.
class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

class TKeyStore {
public:
    virtual ~TKeyStore() = default;

    // A missing value reads as the empty text; a number value throws.
    virtual std::string ReadString(const std::string& name) = 0;
    // Creates the value or replaces it, whatever its type was.
    virtual void WriteString(const std::string& name, const std::string& value) = 0;
    // A missing value or a text value throws.
    virtual int32_t ReadInteger(const std::string& name) = 0;
    virtual void WriteInteger(const std::string& name, int32_t value) = 0;
    virtual bool ValueExists(const std::string& name) = 0;
};

class TMemoryKeyStore : public TKeyStore {
public:
    using TValue = std::variant<std::string, int32_t>;
    struct TEntry {
        std::string name;  // spelling of the first write
        TValue value;
    };

    std::string ReadString(const std::string& name) override;
    void WriteString(const std::string& name, const std::string& value) override;
    int32_t ReadInteger(const std::string& name) override;
    void WriteInteger(const std::string& name, int32_t value) override;
    bool ValueExists(const std::string& name) override;

    // Values in the order they were created.
    const std::vector<TEntry>& Entries() const { return entries_; }
    void Set(const std::string& name, TValue value);

private:
    const TValue* Find(std::string_view name) const;

    std::vector<TEntry> entries_;
};

// One key per file, read afresh on every call and rewritten on every write (through a
// temporary file and a rename, so a failed write leaves the old file whole). I/O failures
// and a damaged file throw ERegistryException naming the file.
//
// File format, one value per line, in creation order; lines starting with '#' and empty
// lines are ignored (and not kept on rewrite):
//     S <name>=<text>      a text value
//     N <name>=<decimal>   a number value
// In names and texts a backslash is written "\\" and every byte 0x00-0x1F, 0x7F and (in
// names) '=' as "\xHH"; all other bytes, non-ASCII ones included, are written as they are.
// So any name and text round-trips and the first bare '=' ends the name.
class TFileKeyStore : public TKeyStore {
public:
    explicit TFileKeyStore(std::string fileName);
    const std::string& FileName() const { return fileName_; }

    std::string ReadString(const std::string& name) override;
    void WriteString(const std::string& name, const std::string& value) override;
    int32_t ReadInteger(const std::string& name) override;
    void WriteInteger(const std::string& name, int32_t value) override;
    bool ValueExists(const std::string& name) override;

    static std::string Format(const TMemoryKeyStore& values);
    // Throws ERegistryException naming the line when the text is not in the format above.
    static TMemoryKeyStore Parse(std::string_view text);

private:
    TMemoryKeyStore Load() const;
    void Save(const TMemoryKeyStore& values);

    std::string fileName_;
};
