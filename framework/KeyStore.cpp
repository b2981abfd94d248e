#include "KeyStore.h"

#include <system_error>

#include "AsciiText.h"
#include "IniFile.h"

namespace {

bool SameName(std::string_view a, std::string_view b) { return framework::SameTextAscii(a, b); }

std::string Quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

std::string Escape(std::string_view s, bool isName) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(s.size());
    for (const char c : s) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte == 0x7F || (isName && c == '=')) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::string> Unescape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            out += s[i];
            continue;
        }
        if (i + 1 < s.size() && s[i + 1] == '\\') {
            out += '\\';
            i += 1;
            continue;
        }
        if (i + 3 < s.size() && s[i + 1] == 'x') {
            const int high = HexDigit(s[i + 2]);
            const int low = HexDigit(s[i + 3]);
            if (high < 0 || low < 0) return std::nullopt;
            out += static_cast<char>(high * 16 + low);
            i += 3;
            continue;
        }
        return std::nullopt;
    }
    return out;
}

}  // namespace

// ---- TMemoryKeyStore ----

const TMemoryKeyStore::TValue* TMemoryKeyStore::Find(std::string_view name) const {
    for (const TEntry& entry : entries_)
        if (SameName(entry.name, name)) return &entry.value;
    return nullptr;
}

void TMemoryKeyStore::Set(const std::string& name, TValue value) {
    for (TEntry& entry : entries_) {
        if (SameName(entry.name, name)) {
            entry.value = std::move(value);
            return;
        }
    }
    entries_.push_back(TEntry{name, std::move(value)});
}

std::string TMemoryKeyStore::ReadString(const std::string& name) {
    const TValue* value = Find(name);
    if (!value) return {};
    if (const auto* text = std::get_if<std::string>(value)) return *text;
    throw ERegistryException("Value " + Quoted(name) + " is a number, not text");
}

void TMemoryKeyStore::WriteString(const std::string& name, const std::string& value) { Set(name, value); }

int32_t TMemoryKeyStore::ReadInteger(const std::string& name) {
    const TValue* value = Find(name);
    if (!value) throw ERegistryException("Value " + Quoted(name) + " does not exist");
    if (const auto* number = std::get_if<int32_t>(value)) return *number;
    throw ERegistryException("Value " + Quoted(name) + " is text, not a number");
}

void TMemoryKeyStore::WriteInteger(const std::string& name, int32_t value) { Set(name, value); }

bool TMemoryKeyStore::ValueExists(const std::string& name) { return Find(name) != nullptr; }

// ---- TFileKeyStore ----

TFileKeyStore::TFileKeyStore(std::string fileName) : fileName_(std::move(fileName)) {}

std::string TFileKeyStore::Format(const TMemoryKeyStore& values) {
    std::string text = "# Tarnwick key store\n";
    for (const TMemoryKeyStore::TEntry& entry : values.Entries()) {
        if (const auto* s = std::get_if<std::string>(&entry.value))
            text += "S " + Escape(entry.name, true) + "=" + Escape(*s, false) + "\n";
        else
            text += "N " + Escape(entry.name, true) + "=" + std::to_string(std::get<int32_t>(entry.value)) + "\n";
    }
    return text;
}

TMemoryKeyStore TFileKeyStore::Parse(std::string_view text) {
    TMemoryKeyStore values;
    size_t pos = 0;
    for (int lineNumber = 1; pos < text.size(); ++lineNumber) {
        size_t newline = text.find('\n', pos);
        if (newline == std::string_view::npos) newline = text.size();
        std::string_view line = text.substr(pos, newline - pos);
        pos = newline + 1;
        // Stored bytes never contain a bare CR, so one here is a CRLF line end from an editor.
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;

        const auto damaged = [lineNumber](const char* what) {
            return ERegistryException("line " + std::to_string(lineNumber) + ": " + what);
        };
        if (line.size() < 2 || (line[0] != 'S' && line[0] != 'N') || line[1] != ' ')
            throw damaged("expected \"S \" or \"N \"");
        const size_t equals = line.find('=', 2);
        if (equals == std::string_view::npos) throw damaged("missing '='");
        const std::optional<std::string> name = Unescape(line.substr(2, equals - 2));
        if (!name) throw damaged("bad escape in name");
        if (values.ValueExists(*name)) throw damaged("value defined twice");
        const std::string_view rest = line.substr(equals + 1);
        if (line[0] == 'S') {
            const std::optional<std::string> value = Unescape(rest);
            if (!value) throw damaged("bad escape in text");
            values.Set(*name, *value);
        } else {
            // Only what Format writes: plain decimal, so a damaged number is not misread.
            const std::optional<int32_t> number = framework::ParseInt32(rest);
            if (!number || std::to_string(*number) != rest) throw damaged("bad number");
            values.Set(*name, *number);
        }
    }
    return values;
}

TMemoryKeyStore TFileKeyStore::Load() const {
    std::optional<std::string> contents;
    try {
        contents = framework::ReadFileIfExists(fileName_);
    } catch (const std::system_error& e) {
        throw ERegistryException("Cannot read key store file " + Quoted(fileName_) + ": " + e.what());
    }
    if (!contents) return {};
    try {
        return Parse(*contents);
    } catch (const ERegistryException& e) {
        throw ERegistryException("Key store file " + Quoted(fileName_) + " is damaged: " + e.Message());
    }
}

void TFileKeyStore::Save(const TMemoryKeyStore& values) {
    try {
        framework::ReplaceFileContents(fileName_, Format(values));
    } catch (const std::system_error& e) {
        throw ERegistryException("Cannot write key store file " + Quoted(fileName_) + ": " + e.what());
    }
}

std::string TFileKeyStore::ReadString(const std::string& name) { return Load().ReadString(name); }

int32_t TFileKeyStore::ReadInteger(const std::string& name) { return Load().ReadInteger(name); }

bool TFileKeyStore::ValueExists(const std::string& name) { return Load().ValueExists(name); }

void TFileKeyStore::WriteString(const std::string& name, const std::string& value) {
    TMemoryKeyStore values = Load();
    values.WriteString(name, value);
    Save(values);
}

void TFileKeyStore::WriteInteger(const std::string& name, int32_t value) {
    TMemoryKeyStore values = Load();
    values.WriteInteger(name, value);
    Save(values);
}
