#include "IniFile.h"

#include "AsciiText.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <system_error>

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s) {
    const size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const size_t last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

bool SameName(std::string_view a, std::string_view b) { return framework::SameTextAscii(a, b); }

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

std::string Quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

[[noreturn]] void ThrowErrno(int error, const char* step) {
    throw std::system_error(error, std::generic_category(), step);
}

class TFd {
public:
    explicit TFd(int fd) : fd_(fd) {}
    ~TFd() { if (fd_ >= 0) ::close(fd_); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return fd_; }
    [[nodiscard]] int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes now so that the caller sees the error (a failed close can mean lost data).
    int Close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

void WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(errno, "write");
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
}

// A name for the temporary that is unique within the process; other processes differ by pid
// and leftovers from a crashed run are skipped by O_EXCL.
std::string TemporaryName(const std::string& dir, std::string_view base) {
    static std::atomic<unsigned long> counter{0};
    // Keep the name within NAME_MAX even for a long base name.
    return dir + "/." + std::string(base.substr(0, 200)) + ".~" + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1));
}

// The file an update of `path` replaces: a symbolic link is followed so the link stays a link.
std::string UpdateTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
        if (resolved) return resolved.get();
    }
    return path;
}

std::string DirectoryOf(const std::string& file) {
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : file.substr(0, slash));
}

bool TryLock(int fd) {
    int r;
    while ((r = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (r == 0) return true;
    if (errno != EWOULDBLOCK) ThrowErrno(errno, "lock");
    return false;
}

}  // namespace

namespace framework {

std::optional<int32_t> ParseInt32(std::string_view text) {
    size_t i = text.find_first_not_of(kBlanks);
    if (i == std::string_view::npos) return std::nullopt;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    bool hex = false;
    if (text.size() - i >= 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i == text.size()) return std::nullopt;
    const uint64_t limit = negative ? 0x80000000u : (hex ? 0xFFFFFFFFu : 0x7FFFFFFFu);
    const unsigned base = hex ? 16 : 10;
    uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (hex && c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        else return std::nullopt;
        magnitude = magnitude * base + digit;
        if (magnitude > limit) return std::nullopt;
    }
    if (negative) return static_cast<int32_t>(-static_cast<int64_t>(magnitude));
    return static_cast<int32_t>(static_cast<uint32_t>(magnitude));
}

std::optional<std::string> ReadFileIfExists(const std::string& path) {
    // O_NONBLOCK so that opening a FIFO cannot block; the type check below then refuses it.
    const int raw = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (raw < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
        ThrowErrno(errno, "open");
    }
    TFd fd(raw);
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) ThrowErrno(errno, "stat");
    if (S_ISDIR(st.st_mode)) ThrowErrno(EISDIR, "open");
    if (!S_ISREG(st.st_mode)) ThrowErrno(EINVAL, "open (not a regular file)");

    std::string contents;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(errno, "read");
        }
        if (n == 0) break;
        contents.append(buffer, static_cast<size_t>(n));
    }
    return contents;
}

void ReplaceFileContents(const std::string& path, std::string_view contents) {
    const std::string target = UpdateTarget(path);
    struct stat st {};
    bool exists = false;
    mode_t mode = 0;
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) ThrowErrno(EISDIR, "replace");
        exists = true;
        mode = st.st_mode & 07777;
    }

    const size_t slash = target.rfind('/');
    const std::string dir = DirectoryOf(target);
    const std::string_view base = slash == std::string::npos ? std::string_view(target)
                                                              : std::string_view(target).substr(slash + 1);
    if (base.empty()) ThrowErrno(EISDIR, "replace");

    std::string temporary;
    int raw = -1;
    for (int attempt = 0; attempt < 100 && raw < 0; ++attempt) {
        temporary = TemporaryName(dir, base);
        // 0666 lets the umask decide the mode of a new file, as for any file we create.
        raw = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (raw < 0 && errno != EEXIST) ThrowErrno(errno, "create temporary file");
    }
    if (raw < 0) ThrowErrno(EEXIST, "create temporary file");

    TFd fd(raw);
    try {
        // The final mode first: contents meant for a private file never sit in a file that
        // others may read.
        if (exists && ::fchmod(fd.Get(), mode) != 0) ThrowErrno(errno, "set permissions");
        WriteAll(fd.Get(), contents);
        if (::fsync(fd.Get()) != 0) ThrowErrno(errno, "sync");
        if (fd.Close() != 0) ThrowErrno(errno, "close");
        if (::rename(temporary.c_str(), target.c_str()) != 0) ThrowErrno(errno, "rename");
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }

    // Make the rename itself durable. The new contents are already in place, so a directory
    // that cannot be synced (some file systems refuse) is not a failed write.
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

TFileUpdateLock::TFileUpdateLock(const std::string& path, std::chrono::milliseconds timeout) {
    const std::string dir = DirectoryOf(UpdateTarget(path));
    TFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() < 0) ThrowErrno(errno, "open directory for locking");
    if (TryLock(fd.Get())) {
        fd_ = fd.Release();
        return;
    }

    // A holder releases the lock by closing its descriptor of the directory (or by ending),
    // and inotify reports that close: wait for it rather than retrying on a clock. inotify
    // sees only closes on this machine, so a holder on another host of a network file system
    // (or no inotify instance to spare) is noticed by a re-check at a modest interval.
    constexpr std::chrono::milliseconds kRecheck{250};
    TFd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (watch.Get() >= 0 && ::inotify_add_watch(watch.Get(), dir.c_str(), IN_CLOSE | IN_ONLYDIR) < 0)
        watch.Close();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // The watch exists before this attempt, so a release after a failed attempt wakes the poll.
    while (!TryLock(fd.Get())) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) ThrowErrno(ETIMEDOUT, "lock (another writer kept it)");
        pollfd p{watch.Get(), POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(std::min(left, kRecheck).count()));
        if (r < 0 && errno != EINTR) ThrowErrno(errno, "wait for lock");
        if (r > 0) {
            char events[4096];
            while (::read(watch.Get(), events, sizeof events) > 0) {
            }
        }
    }
    fd_ = fd.Release();
}

TFileUpdateLock::~TFileUpdateLock() {
    if (fd_ >= 0) ::close(fd_);  // ends the lock
}

}  // namespace framework

// ---- TIniDocument ----

TIniDocument TIniDocument::Parse(std::string_view text) {
    TIniDocument doc;
    bool endSeen = false;
    size_t pos = 0;
    while (pos < text.size()) {
        TLine line;
        const size_t newline = text.find('\n', pos);
        if (newline == std::string_view::npos) {
            // A CR at the very end is the line's end too: left in the text it would become
            // part of the value now and stop being part of it once a line is appended.
            line.text = text.substr(pos);
            if (line.text.ends_with('\r')) {
                line.text.pop_back();
                line.end = "\r";
                if (!endSeen) doc.lineEnd_ = "\r\n";
            }
            pos = text.size();
        } else {
            size_t end = newline;
            if (end > pos && text[end - 1] == '\r') {
                --end;
                line.end = "\r\n";
            } else {
                line.end = "\n";
            }
            line.text = text.substr(pos, end - pos);
            pos = newline + 1;
            if (!endSeen) {
                // Lines we add follow the file's own convention, taken from its first line.
                doc.lineEnd_ = line.end;
                endSeen = true;
            }
        }
        doc.Classify(line, doc.lines_.empty());
        doc.lines_.push_back(std::move(line));
    }
    return doc;
}

std::string TIniDocument::Text() const {
    std::string text;
    for (const TLine& line : lines_) {
        text += line.text;
        text += line.end;
    }
    return text;
}

void TIniDocument::Classify(TLine& line, bool first) {
    line.kind = TLineKind::Other;
    line.name.clear();
    line.valueStart = 0;

    std::string_view view = line.text;
    size_t offset = 0;
    if (first && view.starts_with(kUtf8Bom)) offset = kUtf8Bom.size();
    offset = view.find_first_not_of(kBlanks, offset);
    if (offset == std::string_view::npos) return;
    view.remove_prefix(offset);

    const char lead = view.front();
    if (lead == ';' || lead == '#') return;
    if (lead == '[') {
        const size_t close = view.find(']');
        if (close == std::string_view::npos) return;
        line.kind = TLineKind::Section;
        line.name = Trim(view.substr(1, close - 1));
        return;
    }
    const size_t equals = view.find('=');
    if (equals == std::string_view::npos) return;
    const std::string_view key = Trim(view.substr(0, equals));
    if (key.empty()) return;
    line.kind = TLineKind::Key;
    line.name = key;
    size_t value = offset + equals + 1;
    while (value < line.text.size() && kBlanks.find(line.text[value]) != std::string_view::npos) ++value;
    line.valueStart = value;
}

size_t TIniDocument::FindSection(std::string_view section) const {
    const std::string_view name = Trim(section);
    for (size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].kind == TLineKind::Section && SameName(lines_[i].name, name)) return i;
    return lines_.size();
}

size_t TIniDocument::SectionEnd(size_t header) const {
    size_t i = header + 1;
    while (i < lines_.size() && lines_[i].kind != TLineKind::Section) ++i;
    return i;
}

size_t TIniDocument::FindKey(size_t header, std::string_view key) const {
    const std::string_view name = Trim(key);
    const size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i)
        if (lines_[i].kind == TLineKind::Key && SameName(lines_[i].name, name)) return i;
    return std::string::npos;
}

std::optional<std::string> TIniDocument::Value(std::string_view section, std::string_view key) const {
    const size_t header = FindSection(section);
    if (header == lines_.size()) return std::nullopt;
    const size_t at = FindKey(header, key);
    if (at == std::string::npos) return std::nullopt;
    const TLine& line = lines_[at];
    return std::string(Trim(std::string_view(line.text).substr(line.valueStart)));
}

bool TIniDocument::HasSection(std::string_view section) const { return FindSection(section) != lines_.size(); }

std::vector<std::string> TIniDocument::SectionNames() const {
    std::vector<std::string> names;
    for (const TLine& line : lines_) {
        if (line.kind != TLineKind::Section) continue;
        bool seen = false;
        for (const std::string& n : names) seen = seen || SameName(n, line.name);
        if (!seen) names.push_back(line.name);
    }
    return names;
}

std::vector<std::string> TIniDocument::KeyNames(std::string_view section) const {
    std::vector<std::string> names;
    const size_t header = FindSection(section);
    if (header == lines_.size()) return names;
    const size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i) {
        if (lines_[i].kind != TLineKind::Key) continue;
        bool seen = false;
        for (const std::string& n : names) seen = seen || SameName(n, lines_[i].name);
        if (!seen) names.push_back(lines_[i].name);
    }
    return names;
}

void TIniDocument::Insert(size_t at, std::string text) {
    // Only the last line can lack a full line end; it needs one before anything follows it.
    if (at > 0) {
        std::string& end = lines_[at - 1].end;
        if (end.empty()) end = lineEnd_;
        else if (end == "\r") end = "\r\n";
    }
    TLine line;
    line.text = std::move(text);
    line.end = lineEnd_;
    Classify(line, at == 0);
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

void TIniDocument::SetValue(std::string_view section, std::string_view key, std::string_view value) {
    // Anything that would read back as something else, or spill into other lines, is refused.
    const std::string_view sectionName = Trim(section);
    const std::string_view keyName = Trim(key);
    if (sectionName.empty()) throw EIniFileException("empty section name");
    if (HasLineBreak(sectionName) || sectionName.find(']') != std::string_view::npos)
        throw EIniFileException("section name " + Quoted(section) + " contains a line break or ']'");
    if (keyName.empty()) throw EIniFileException("empty key name in section " + Quoted(sectionName));
    if (HasLineBreak(keyName) || keyName.find('=') != std::string_view::npos)
        throw EIniFileException("key name " + Quoted(key) + " contains a line break or '='");
    if (keyName.front() == '[' || keyName.front() == ';' || keyName.front() == '#')
        throw EIniFileException("key name " + Quoted(key) + " starts with '[', ';' or '#'");
    if (HasLineBreak(value))
        throw EIniFileException("value of key " + Quoted(keyName) + " contains a line break");

    const size_t header = FindSection(sectionName);
    if (header == lines_.size()) {
        Insert(lines_.size(), "[" + std::string(sectionName) + "]");
        Insert(lines_.size(), std::string(keyName) + "=" + std::string(value));
        return;
    }
    const size_t at = FindKey(header, keyName);
    if (at != std::string::npos) {
        // Keep the key's spelling and the layout around '='; only the value changes.
        TLine& line = lines_[at];
        line.text.resize(line.valueStart);
        line.text += value;
        Classify(line, at == 0);
        return;
    }
    size_t insertAt = header + 1;
    const size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i)
        if (lines_[i].kind == TLineKind::Key) insertAt = i + 1;
    Insert(insertAt, std::string(keyName) + "=" + std::string(value));
}

// ---- TIniFile ----

TIniFile::TIniFile(std::string fileName, std::chrono::milliseconds lockTimeout)
    : fileName_(std::move(fileName)), lockTimeout_(lockTimeout) {}

TIniDocument TIniFile::Load() const {
    try {
        const std::optional<std::string> contents = framework::ReadFileIfExists(fileName_);
        return contents ? TIniDocument::Parse(*contents) : TIniDocument();
    } catch (const std::system_error& e) {
        throw EIniFileException("Cannot read INI file " + Quoted(fileName_) + ": " + e.what());
    }
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
    return Load().Value(section, key).value_or(def);
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key, int32_t def) const {
    const std::optional<std::string> text = Load().Value(section, key);
    if (!text) return def;
    return framework::ParseInt32(*text).value_or(def);
}

bool TIniFile::SectionExists(const std::string& section) const { return Load().HasSection(section); }

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
    return Load().Value(section, key).has_value();
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const {
    return Load().KeyNames(section);
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    const std::string prefix = "Cannot write INI file " + Quoted(fileName_) + ": ";
    std::optional<std::string> old;
    std::optional<framework::TFileUpdateLock> lock;
    try {
        lock.emplace(fileName_, lockTimeout_);  // held until the new contents are in place
        old = framework::ReadFileIfExists(fileName_);
    } catch (const std::system_error& e) {
        // Without the old contents a rewrite would lose them.
        throw EIniFileException(prefix + e.what());
    }
    TIniDocument doc = old ? TIniDocument::Parse(*old) : TIniDocument();
    try {
        doc.SetValue(section, key, value);
    } catch (const EIniFileException& e) {
        throw EIniFileException(prefix + e.Message());
    }
    std::string text = doc.Text();
    if (old && text == *old) return;
    try {
        framework::ReplaceFileContents(fileName_, text);
    } catch (const std::system_error& e) {
        throw EIniFileException(prefix + e.what());
    }
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
    WriteString(section, key, std::to_string(value));
}
