#include "CsvText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <system_error>

namespace csv {

namespace {

// Calls `onField(raw)` for each raw field of the line (before unquoting).
template <typename OnField>
void ForEachRawField(std::string_view line, const Dialect& d, OnField&& onField) {
    std::size_t quotes = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == d.quote) ++quotes;
        if (c == d.separator && quotes % 2 == 0) {
            if (!onField(line.substr(start, i - start))) return;
            start = i + 1;
        }
    }
    onField(line.substr(start));
}


class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

[[noreturn]] void ThrowOpenError(const std::string& path, int errorNumber) {
    throw EFOpenError(OpenErrorMessage(path, errorNumber));
}

}  // namespace

std::vector<std::string> SplitCsvLine(std::string_view line, const Dialect& dialect) {
    std::vector<std::string> fields;
    ForEachRawField(line, dialect, [&](std::string_view raw) {
        fields.push_back(FinishedField(raw, dialect));
        return true;
    });
    return fields;
}

std::size_t CountFields(std::string_view line, const Dialect& dialect) {
    std::size_t n = 0;
    ForEachRawField(line, dialect, [&](std::string_view) {
        ++n;
        return true;
    });
    return n;
}

std::string Field(std::string_view line, std::size_t index, const Dialect& dialect) {
    std::string out;
    std::size_t at = 0;
    ForEachRawField(line, dialect, [&](std::string_view raw) {
        if (at++ != index) return true;
        out = FinishedField(raw, dialect);
        return false;
    });
    return out;
}

std::vector<std::size_t> FieldStarts(std::string_view line, const Dialect& dialect,
                                     std::size_t maxFields) {
    // Hops from one separator or quote to the next with memchr: a line of megabytes with few
    // of them costs a fraction of a byte-by-byte walk.
    std::vector<std::size_t> starts{0};
    const char* const base = line.data();
    const std::size_t size = line.size();
    const auto find = [&](char c, std::size_t from) {
        const void* p = from < size ? std::memchr(base + from, c, size - from) : nullptr;
        return p ? static_cast<std::size_t>(static_cast<const char*>(p) - base) : size;
    };
    // A character that is both quote and separator is counted as a quote first, and ends a
    // field when that count is even (see ForEachRawField).
    const bool same = dialect.quote == dialect.separator;
    std::size_t nextSep = same ? size : find(dialect.separator, 0);
    std::size_t nextQuote = find(dialect.quote, 0);
    bool inside = false;
    while (starts.size() <= maxFields) {
        if (nextQuote < nextSep) {
            inside = !inside;
            if (same && !inside) starts.push_back(nextQuote + 1);
            nextQuote = find(dialect.quote, nextQuote + 1);
            continue;
        }
        if (nextSep >= size) break;
        if (!inside) starts.push_back(nextSep + 1);
        nextSep = find(dialect.separator, nextSep + 1);
    }
    return starts;
}

std::string FinishedField(std::string_view raw, const Dialect& dialect, std::size_t maxBytes) {
    if (dialect.unquote && !raw.empty() && raw.front() == dialect.quote)
        return UnquoteField(raw, dialect.quote, maxBytes);
    return std::string(raw.substr(0, maxBytes));
}

std::string UnquoteField(std::string_view field, char quote, std::size_t maxBytes) {
    if (field.empty() || field.front() != quote) return std::string(field.substr(0, maxBytes));
    std::string out;
    for (std::size_t i = 1; i < field.size() && out.size() < maxBytes; ++i) {
        if (field[i] != quote) {
            out += field[i];
        } else if (i + 1 < field.size() && field[i + 1] == quote) {
            out += quote;
            ++i;
        } else {
            break;  // the closing quote; the rest of the field is dropped
        }
    }
    return out;
}

std::string OpenErrorMessage(const std::string& path, int errorNumber) {
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(path, ec);
    const std::string shown = ec ? path : full.lexically_normal().string();
    return "Datei " + shown + " kann nicht geöffnet werden. " +
           std::generic_category().message(errorNumber);
}

std::string ReadFileBytes(const std::string& path) {
    // Look before opening: opening a tty can reset the machine behind it, and a pipe or a
    // device would block or never end.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) ThrowOpenError(path, errno);
    if (S_ISDIR(st.st_mode)) ThrowOpenError(path, EISDIR);
    if (!S_ISREG(st.st_mode)) ThrowOpenError(path, ENOTSUP);

    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) ThrowOpenError(path, errno);
    if (::fstat(fd.get(), &st) != 0) ThrowOpenError(path, errno);
    if (!S_ISREG(st.st_mode)) ThrowOpenError(path, ENOTSUP);  // replaced meanwhile

    try {
        std::string bytes;
        // One byte more than the size, so the read that meets the end needs no growth.
        bytes.resize(static_cast<std::size_t>(st.st_size) + 1);
        std::size_t used = 0;
        for (;;) {
            if (used == bytes.size()) bytes.resize(bytes.size() * 2);  // the file grew
            const ssize_t n = ::read(fd.get(), bytes.data() + used, bytes.size() - used);
            if (n < 0) {
                if (errno == EINTR) continue;
                ThrowOpenError(path, errno);
            }
            if (n == 0) break;
            used += static_cast<std::size_t>(n);
        }
        bytes.resize(used);
        return bytes;
    } catch (const std::bad_alloc&) {
        ThrowOpenError(path, ENOMEM);
    } catch (const std::length_error&) {
        ThrowOpenError(path, EFBIG);
    }
}

Document::Document(std::string text, const Dialect& dialect, std::size_t maxLines)
    : text_(std::move(text)), dialect_(dialect) {
    Scan(maxLines);
}

Document Document::Load(const std::string& path, const Dialect& dialect, std::size_t maxLines) {
    try {
        return Document(ReadFileBytes(path), dialect, maxLines);
    } catch (const ETooManyLines&) {
        ThrowOpenError(path, EFBIG);
    } catch (const std::bad_alloc&) {
        ThrowOpenError(path, ENOMEM);
    }
}

void Document::Scan(std::size_t maxLines) {
    marks_.clear();
    lineCount_ = 0;
    maxFields_ = 0;
    const std::size_t size = text_.size();
    if (size == 0) return;

    // Five characters matter: CR, LF, the separator, the quote and NUL, which ends the text.
    // They are found 16 bytes at a time where the processor allows, and handled one by one.
    const char* const base = text_.data();
    const char sep = dialect_.separator;
    const char quote = dialect_.quote;
    std::size_t fields = 1;
    std::size_t quotes = 0;
    std::size_t skipLf = std::string::npos;  // the LF of a CR LF, already handled with its CR
    std::size_t end = size;                  // where the text ends: its size or its first NUL
    // Lines begun so far; the last may yet turn out to be none (a break at the very end).
    std::size_t begun = 1;
    std::size_t lastStart = 0;
    marks_.push_back({0, 0});
    // Handles the character at `at`; false once the text has ended there.
    const auto stop = [&](std::size_t at) {
        const char c = base[at];
        if (c == '\0') {
            end = at;
            return false;
        }
        if (c == '\r' || c == '\n') {
            if (at == skipLf) return true;
            std::size_t next = at + 1;
            if (c == '\r' && next < size && base[next] == '\n') skipLf = next++;
            maxFields_ = std::max(maxFields_, fields);
            fields = 1;
            quotes = 0;
            // One line more than the limit may still be the empty end; two cannot be.
            if (begun > maxLines) throw ETooManyLines("more than " + std::to_string(maxLines) + " lines");
            if (begun % kMarkLines == 0 || next - marks_.back().offset >= kMarkBytes)
                marks_.push_back({begun, next});
            ++begun;
            lastStart = next;
            return true;
        }
        if (c == quote) ++quotes;
        if (c == sep && quotes % 2 == 0) ++fields;
        return true;
    };
    const auto isStop = [&](char c) {
        return c == '\r' || c == '\n' || c == sep || c == quote || c == '\0';
    };

    std::size_t i = 0;
    bool going = true;
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i sepV = _mm_set1_epi8(sep);
    const __m128i quoteV = _mm_set1_epi8(quote);
    const __m128i nul = _mm_setzero_si128();
    for (; going && i + 16 <= size; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + i));
        const __m128i breaks = _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf));
        const __m128i fieldMarks = _mm_or_si128(_mm_cmpeq_epi8(v, sepV), _mm_cmpeq_epi8(v, quoteV));
        const __m128i hits = _mm_or_si128(_mm_or_si128(breaks, fieldMarks), _mm_cmpeq_epi8(v, nul));
        for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits)); going && mask != 0;
             mask &= mask - 1)
            going = stop(i + static_cast<std::size_t>(__builtin_ctz(mask)));
    }
#endif
    for (; going && i < size; ++i)
        if (isStop(base[i])) going = stop(i);

    // A break at the very end starts no line.
    lineCount_ = begun;
    if (lastStart >= end) {
        --lineCount_;
        if (marks_.back().line == lineCount_) marks_.pop_back();
    }
    if (lineCount_ > maxLines) throw ETooManyLines("more than " + std::to_string(maxLines) + " lines");
    if (lineCount_ > 0) maxFields_ = std::max(maxFields_, fields);
    marks_.shrink_to_fit();
    text_.resize(end);
    if (end < size / 2) text_.shrink_to_fit();  // a binary file: keep only the text
}

std::size_t Document::NextStart(std::size_t start, std::size_t limit) const {
    const char* const base = text_.data();
    const std::size_t size = text_.size();
    const std::size_t bound = std::min(size, limit);
    const auto at = [base](const void* p) { return static_cast<std::size_t>(static_cast<const char*>(p) - base); };
    const void* lf = start < bound ? std::memchr(base + start, '\n', bound - start) : nullptr;
    const std::size_t lfAt = lf ? at(lf) : bound;
    if (const void* cr = start < lfAt ? std::memchr(base + start, '\r', lfAt - start) : nullptr) {
        const std::size_t crAt = at(cr);
        return crAt + 1 < size && base[crAt + 1] == '\n' ? crAt + 2 : crAt + 1;
    }
    return lf ? lfAt + 1 : size;
}

std::string_view Document::Line(std::size_t index) const {
    if (index >= lineCount_) throw std::out_of_range("csv::Document::Line");
    // The last mark at or before the line, and the one after it, if any.
    const auto after = std::upper_bound(marks_.begin(), marks_.end(), index,
                                        [](std::size_t i, const Mark& m) { return i < m.line; });
    const Mark& mark = *(after - 1);
    std::size_t start = static_cast<std::size_t>(mark.offset);
    // Every break walked to lies before this, so no search runs past the mark's stretch.
    const std::size_t limit = start + kMarkBytes;
    for (std::size_t line = static_cast<std::size_t>(mark.line); line < index; ++line)
        start = NextStart(start, limit);
    std::size_t stop;
    if (index + 1 < lineCount_) {
        // The next line begins right after this one's break: CR LF, CR or LF. A line that
        // ends a mark's stretch is not walked: the next mark says where it ends.
        const std::size_t next = after != marks_.end() && after->line == index + 1
                                     ? static_cast<std::size_t>(after->offset)
                                     : NextStart(start, limit);
        stop = next - 1;
        if (text_[stop] == '\n' && stop > start && text_[stop - 1] == '\r') --stop;
    } else {
        // The last line: a line holds no break, so what ends it is its final break, if any.
        stop = text_.size();
        if (stop > start && text_[stop - 1] == '\n') --stop;
        if (stop > start && text_[stop - 1] == '\r') --stop;
    }
    return std::string_view(text_).substr(start, stop - start);
}

std::size_t Document::MemoryUsed() const {
    return text_.capacity() + marks_.capacity() * sizeof(Mark);
}

}  // namespace csv
