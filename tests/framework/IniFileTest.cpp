#include "IniFile.h"

#include <gtest/gtest.h>

#include <thread>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "inifile-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        path_ = (dir_ / "settings.ini").string();
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(dir_, ignored);
    }

    static void Put(const std::string& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
        ASSERT_TRUE(out.good());
    }
    static std::string Get(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::vector<std::string> DirEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
    std::string path_;
};

// ---- reading ----

TEST_F(IniFileTest, SectionsAndKeysMatchIgnoringCaseAndKeepTheirSpelling) {
    Put(path_, "[ComPort1]\nBaudRate=115200\nPort=COM3\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("COMPORT1", "baudrate", "x"), "115200");
    EXPECT_EQ(ini.ReadString("comport1", "PORT", "x"), "COM3");
    EXPECT_TRUE(ini.SectionExists("cOMpORT1"));
    EXPECT_TRUE(ini.ValueExists("comport1", "BAUDRATE"));
    EXPECT_FALSE(ini.ValueExists("comport1", "Parity"));
    EXPECT_FALSE(ini.SectionExists("ComPort2"));
    EXPECT_EQ(ini.ReadSection("COMPORT1"), (std::vector<std::string>{"BaudRate", "Port"}));
}

TEST_F(IniFileTest, NamesAndValuesAreTrimmedButOtherwiseKeptAsText) {
    Put(path_,
        "  [ Main ]  ; trailing note\n"
        "\t Key \t=  value  with  inner  blanks \t\n"
        "Quoted=\"x\"\n"
        "Eq=a=b\n"
        "Empty=\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("Main", "Key", "def"), "value  with  inner  blanks");
    EXPECT_EQ(ini.ReadString("Main", "Quoted", "def"), "\"x\"");
    EXPECT_EQ(ini.ReadString("Main", "Eq", "def"), "a=b");
    // An empty value is a value: the default applies only to a missing key.
    EXPECT_EQ(ini.ReadString("Main", "Empty", "def"), "");
    EXPECT_TRUE(ini.ValueExists("Main", "Empty"));
    EXPECT_EQ(ini.ReadString(" main ", " key ", "def"), "value  with  inner  blanks");
}

TEST_F(IniFileTest, CommentsGarbageAndKeysOutsideSectionsAreNotValues) {
    Put(path_,
        "Stray=before any section\n"
        "[S]\n"
        ";Port=COM1\n"
        "  # Baud=1\n"
        "no equals sign here\n"
        "=no key\n"
        "[unterminated\n"
        "Real=1\n");
    TIniFile ini(path_);
    EXPECT_FALSE(ini.ValueExists("S", "Stray"));
    EXPECT_FALSE(ini.ValueExists("S", ";Port"));
    EXPECT_FALSE(ini.ValueExists("S", "Port"));
    EXPECT_FALSE(ini.ValueExists("S", "# Baud"));
    EXPECT_FALSE(ini.SectionExists("unterminated"));
    EXPECT_EQ(ini.ReadString("S", "Real", "def"), "1");
    EXPECT_EQ(ini.ReadSection("S"), (std::vector<std::string>{"Real"}));
}

TEST_F(IniFileTest, FirstSectionAndFirstKeyOfANameWin) {
    Put(path_, "[A]\nk=1\nK=2\n[B]\nk=3\n[a]\nk=4\nother=5\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("A", "k", ""), "1");
    EXPECT_FALSE(ini.ValueExists("A", "other"));
    EXPECT_EQ(ini.ReadSection("A"), (std::vector<std::string>{"k"}));
    ini.WriteString("A", "K", "9");
    EXPECT_EQ(Get(path_), "[A]\nk=9\nK=2\n[B]\nk=3\n[a]\nk=4\nother=5\n");
}

TEST_F(IniFileTest, MissingFileReadsAsDefaultsAndIsNotCreated) {
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("S", "k", "def"), "def");
    EXPECT_EQ(ini.ReadInteger("S", "k", -7), -7);
    EXPECT_FALSE(ini.SectionExists("S"));
    EXPECT_FALSE(ini.ValueExists("S", "k"));
    EXPECT_TRUE(ini.ReadSection("S").empty());
    EXPECT_FALSE(fs::exists(path_));
    // A missing directory on the way is just as missing.
    EXPECT_EQ(TIniFile((dir_ / "no" / "such.ini").string()).ReadString("S", "k", "def"), "def");
}

TEST_F(IniFileTest, LineEndingVariantsAreRead) {
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"LF", "[S]\nA=1\nB=two\n"},
        {"CRLF", "[S]\r\nA=1\r\nB=two\r\n"},
        {"no final newline", "[S]\nA=1\nB=two"},
        {"CRLF without final LF", "[S]\r\nA=1\r\nB=two\r"},
        {"mixed", "[S]\r\nA=1\nB=two\r\n"},
        {"UTF-8 byte order mark", "\xEF\xBB\xBF[S]\r\nA=1\r\nB=two\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Put(path_, c.text);
        TIniFile ini(path_);
        EXPECT_EQ(ini.ReadInteger("S", "A", 0), 1);
        EXPECT_EQ(ini.ReadString("S", "B", ""), "two");
    }
}

TEST_F(IniFileTest, BinaryContentAndHugeLinesAreHarmless) {
    const std::string binary = "\x00\xFF\x01[\x00]\r\r\n=\x00\n[S]\nk=a\0b\n"s;
    Put(path_, binary);
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("S", "k", ""), "a\0b"s);  // NUL is an ordinary byte
    ini.WriteString("S", "n", "1");
    EXPECT_EQ(Get(path_), binary + "n=1\r\n");  // the first line ends in CR LF

    const std::string huge(4 << 20, 'x');  // one 4 MiB line, no newline
    Put(path_, huge);
    EXPECT_EQ(ini.ReadString("S", "k", "def"), "def");
    ini.WriteString("S", "k", "v");
    EXPECT_EQ(Get(path_), huge + "\n[S]\nk=v\n");
}

TEST_F(IniFileTest, APathThatIsNotARegularFileIsAnErrorNotDefaults) {
    // A directory (or device, FIFO) must not be mistaken for an empty settings file.
    TIniFile ini(dir_.string());
    try {
        ini.ReadString("S", "k", "def");
        FAIL() << "no exception";
    } catch (const EIniFileException& e) {
        EXPECT_NE(e.Message().find(dir_.string()), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find(std::generic_category().message(EISDIR)), std::string::npos) << e.Message();
    }
    const std::string fifo = (dir_ / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(TIniFile(fifo).ReadString("S", "k", "def"), EIniFileException);
    EXPECT_THROW(TIniFile("/dev/zero").ReadString("S", "k", "def"), EIniFileException);
}

// ---- whole numbers ----

TEST_F(IniFileTest, IntegerTextConversion) {
    constexpr int32_t kDef = 4711;
    struct Case {
        std::string text;
        int32_t expected;
    };
    const Case cases[] = {
        {"0", 0},
        {"42", 42},
        {"-42", -42},
        {"+42", 42},
        {"000000000000000000042", 42},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"0x1F", 31},
        {"0X1f", 31},
        {"0x0", 0},
        {"-0x10", -16},
        {"0x7FFFFFFF", INT32_MAX},
        {"0x80000000", INT32_MIN},  // hexadecimal is a 32-bit pattern
        {"0xFFFFFFFF", -1},
        {"-0x80000000", INT32_MIN},
        {"   17   ", 17},  // blanks around the value are trimmed
        // not a whole number, or outside 32 bits: the default
        {"", kDef},
        {"-", kDef},
        {"+", kDef},
        {"0x", kDef},
        {"x10", kDef},
        {"12abc", kDef},
        {"abc", kDef},
        {"1 2", kDef},
        {"- 5", kDef},
        {"1.5", kDef},
        {"1e3", kDef},
        {"$1F", kDef},
        {"0x-1", kDef},
        {"0x1G", kDef},
        {"--1", kDef},
        {"2147483648", kDef},
        {"-2147483649", kDef},
        {"99999999999999999999", kDef},
        {"0x100000000", kDef},
        {"-0x80000001", kDef},
    };
    std::string text = "[N]\n";
    for (size_t i = 0; i < std::size(cases); ++i) text += "k" + std::to_string(i) + "=" + cases[i].text + "\n";
    Put(path_, text);
    TIniFile ini(path_);
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(ini.ReadInteger("N", "k" + std::to_string(i), kDef), cases[i].expected)
            << "text \"" << cases[i].text << "\"";
    EXPECT_EQ(ini.ReadInteger("N", "missing", kDef), kDef);
    EXPECT_EQ(ini.ReadInteger("Missing", "k0", kDef), kDef);
}

TEST(ParseInt32, AcceptsLeadingBlanksOnly) {
    EXPECT_EQ(framework::ParseInt32(" \t-5"), -5);
    EXPECT_EQ(framework::ParseInt32("-5 "), std::nullopt);
    EXPECT_EQ(framework::ParseInt32("5\0"s), std::nullopt);
    EXPECT_EQ(framework::ParseInt32("  "), std::nullopt);
}

TEST_F(IniFileTest, WriteIntegerIsDecimalAndRoundTrips) {
    TIniFile ini(path_);
    for (const int32_t value : {0, 1, -1, 115200, INT32_MAX, INT32_MIN}) {
        SCOPED_TRACE(value);
        ini.WriteInteger("N", "v", value);
        EXPECT_EQ(Get(path_), "[N]\nv=" + std::to_string(value) + "\n");
        EXPECT_EQ(ini.ReadInteger("N", "v", 12345), value);
    }
}

// ---- writing ----

TEST_F(IniFileTest, RewriteKeepsEverythingElseByteForByte) {
    const std::string before =
        "; Tarnwick settings\n"
        "# another comment style\n"
        "\n"
        "[Other]\n"
        "  Indented = keep me \t\n"
        "garbage line without equals\n"
        "\n"
        "[ComPort1]\n"
        "Port = COM1\n"
        "; BaudRate=1\n"
        "BaudRate=9600\n"
        "\n"
        "[Last]\n"
        "x=1\n";
    Put(path_, before);
    TIniFile ini(path_);

    ini.WriteString("comport1", "BAUDRATE", "115200");
    ini.WriteString("ComPort1", "Port", "COM3");
    ini.WriteString("ComPort1", "Parity", "None");
    const std::string after =
        "; Tarnwick settings\n"
        "# another comment style\n"
        "\n"
        "[Other]\n"
        "  Indented = keep me \t\n"
        "garbage line without equals\n"
        "\n"
        "[ComPort1]\n"
        "Port = COM3\n"
        "; BaudRate=1\n"
        "BaudRate=115200\n"
        "Parity=None\n"
        "\n"
        "[Last]\n"
        "x=1\n";
    EXPECT_EQ(Get(path_), after);
    EXPECT_EQ(ini.ReadString("Other", "Indented", ""), "keep me");
}

TEST_F(IniFileTest, PlacementOfNewKeysAndSections) {
    struct Case {
        const char* name;
        std::string before;
        std::string section, key, value;
        std::string after;
    };
    const Case cases[] = {
        {"new file", "", "S", "k", "v", "[S]\nk=v\n"},
        {"after the last key of its section, before the gap",
         "[A]\nx=1\n; note\ny=2\n\n[B]\nz=3\n", "a", "New", "v",
         "[A]\nx=1\n; note\ny=2\nNew=v\n\n[B]\nz=3\n"},
        {"section without keys: right after its header", "[A]\n\n[B]\nz=3\n", "A", "k", "v",
         "[A]\nk=v\n\n[B]\nz=3\n"},
        {"new section at the end", "[A]\nx=1\n", "B", "k", "v", "[A]\nx=1\n[B]\nk=v\n"},
        {"names are written trimmed", "", " S ", " k ", "v", "[S]\nk=v\n"},
        {"CRLF file gets CRLF lines", "[A]\r\nx=1\r\n", "A", "y", "2", "[A]\r\nx=1\r\ny=2\r\n"},
        {"CRLF file, new section", "[A]\r\nx=1\r\n", "B", "y", "2", "[A]\r\nx=1\r\n[B]\r\ny=2\r\n"},
        {"mixed endings follow the first line, untouched lines keep theirs", "[A]\r\nx=1\ny=2\r\n", "A",
         "z", "3", "[A]\r\nx=1\ny=2\r\nz=3\r\n"},
        {"no final newline: new key", "[A]\nx=1", "A", "y", "2", "[A]\nx=1\ny=2\n"},
        {"no final newline: new section", "[A]\nx=1", "B", "y", "2", "[A]\nx=1\n[B]\ny=2\n"},
        {"no final newline: changed key stays unterminated", "[A]\nx=1", "A", "x", "5", "[A]\nx=5"},
        {"lone CR at the end completes to CRLF", "[A]\r\nx=1\r", "A", "y", "2", "[A]\r\nx=1\r\ny=2\r\n"},
        {"single line ending in CR is a CRLF file", "[A]\r", "A", "y", "2", "[A]\r\ny=2\r\n"},
        {"existing key keeps spelling and layout", "[A]\nbaudRATE =  9600  \n", "A", "BaudRate", "115200",
         "[A]\nbaudRATE =  115200\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(path_);
        if (!c.before.empty()) Put(path_, c.before);
        TIniFile ini(path_);
        ini.WriteString(c.section, c.key, c.value);
        EXPECT_EQ(Get(path_), c.after);
        EXPECT_EQ(ini.ReadString(c.section, c.key, "def"), c.value);
    }
}

TEST_F(IniFileTest, AwkwardValuesRoundTrip) {
    const std::string values[] = {
        "", "a=b=c", "; not a comment", "# nor this", "[not a section]", "with\0NUL"s, "\xFF\xFE\x80",
        "tab\tinside", "\"quoted\"",
    };
    TIniFile ini(path_);
    for (size_t i = 0; i < std::size(values); ++i) ini.WriteString("S", "k" + std::to_string(i), values[i]);
    for (size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(ini.ReadString("S", "k" + std::to_string(i), "def"), values[i]) << i;
    EXPECT_EQ(ini.ReadSection("S").size(), std::size(values));
    EXPECT_EQ(ini.ReadSection("not a section").size(), 0u);
}

TEST_F(IniFileTest, NamesAndValuesThatWouldCorruptTheFileAreRefused) {
    struct Case {
        std::string section, key, value;
    };
    const Case cases[] = {
        {"", "k", "v"},        {"  ", "k", "v"},     {"a]b", "k", "v"},     {"a\nb", "k", "v"},
        {"a\rb", "k", "v"},    {"S", "", "v"},       {"S", " ", "v"},       {"S", "a=b", "v"},
        {"S", ";k", "v"},      {"S", "#k", "v"},     {"S", "[k", "v"},      {"S", "a\nb", "v"},
        {"S", "k", "line1\nInjected=1"}, {"S", "k", "cr\r"},
    };
    const std::string before = "[S]\nk=old\n";
    Put(path_, before);
    TIniFile ini(path_);
    for (const Case& c : cases) {
        SCOPED_TRACE("section \"" + c.section + "\" key \"" + c.key + "\" value \"" + c.value + "\"");
        try {
            ini.WriteString(c.section, c.key, c.value);
            ADD_FAILURE() << "no exception";
        } catch (const EIniFileException& e) {
            EXPECT_NE(e.Message().find(path_), std::string::npos) << e.Message();
        }
        EXPECT_EQ(Get(path_), before);
    }
}

TEST_F(IniFileTest, WriteKeepsPermissionsAndLeavesNoTemporaryBehind) {
    Put(path_, "[S]\nk=1\n");
    fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    TIniFile ini(path_);
    ini.WriteString("S", "k", "2");
    ini.WriteString("T", "k", "3");
    EXPECT_EQ(fs::status(path_).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(DirEntries(), std::vector<std::string>{"settings.ini"});
    EXPECT_EQ(Get(path_), "[S]\nk=2\n[T]\nk=3\n");
}

TEST_F(IniFileTest, WriteThroughASymbolicLinkUpdatesItsTarget) {
    Put(path_, "[S]\nk=1\n");
    const fs::path link = dir_ / "link.ini";
    fs::create_symlink("settings.ini", link);
    TIniFile(link.string()).WriteString("S", "k", "2");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Get(path_), "[S]\nk=2\n");
}

TEST_F(IniFileTest, FailedWritesThrowNamingFileAndCauseAndLeaveNothingBehind) {
    struct Case {
        const char* name;
        std::string path;
        std::string cause;  // the system's own text, in the process locale
    };
    Put((dir_ / "plain").string(), "x");
    fs::create_directory(dir_ / "subdir");
    const Case cases[] = {
        {"missing directory", (dir_ / "missing" / "settings.ini").string(), std::generic_category().message(ENOENT)},
        {"path is a directory", (dir_ / "subdir").string(), std::generic_category().message(EISDIR)},
        {"path ends in a slash", (dir_ / "subdir").string() + "/", std::generic_category().message(EISDIR)},
        {"parent is a file", (dir_ / "plain" / "settings.ini").string(), std::generic_category().message(ENOTDIR)},
    };
    const std::vector<std::string> entriesBefore = DirEntries();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TIniFile ini(c.path);
        for (int integer = 0; integer < 2; ++integer) {
            try {
                if (integer) ini.WriteInteger("S", "k", 1);
                else ini.WriteString("S", "k", "v");
                ADD_FAILURE() << "no exception";
            } catch (const EIniFileException& e) {
                EXPECT_NE(e.Message().find(c.path), std::string::npos) << e.Message();
                EXPECT_NE(e.Message().find(c.cause), std::string::npos) << e.Message();
            }
        }
        EXPECT_EQ(DirEntries(), entriesBefore);
        EXPECT_TRUE(fs::is_empty(dir_ / "subdir"));
        EXPECT_EQ(Get((dir_ / "plain").string()), "x");
    }
}

TEST_F(IniFileTest, FailureWhileWritingTheTemporaryRemovesItAndKeepsTheOldFile) {
    const std::string before = "[S]\nk=1\n";
    Put(path_, before);
    // A file size limit makes the write of the temporary fail part-way (EFBIG), even as root.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string message;
    try {
        TIniFile(path_).WriteString("S", "k", std::string(1000, 'v'));
    } catch (const EIniFileException& e) {
        message = e.Message();
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_NE(message.find(std::generic_category().message(EFBIG)), std::string::npos) << message;
    EXPECT_EQ(Get(path_), before);
    EXPECT_EQ(DirEntries(), std::vector<std::string>{"settings.ini"});
}

TEST_F(IniFileTest, WriteIntoReadOnlyDirectoryThrowsAndKeepsTheOldFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "root can write into a read-only directory";
    Put(path_, "[S]\nk=1\n");
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_THROW(TIniFile(path_).WriteString("S", "k", "2"), EIniFileException);
    fs::permissions(dir_, fs::perms::owner_all);
    EXPECT_EQ(Get(path_), "[S]\nk=1\n");
    EXPECT_EQ(DirEntries(), std::vector<std::string>{"settings.ini"});
}

TEST_F(IniFileTest, OtherWritersAreSeen) {
    TIniFile first(path_);
    TIniFile second(path_);
    first.WriteString("S", "k", "1");
    EXPECT_EQ(second.ReadString("S", "k", ""), "1");
    second.WriteString("S", "k", "2");
    EXPECT_EQ(first.ReadString("S", "k", ""), "2");
}

// Each write is a read-modify-replace of the whole file: writers at once, in this process or
// others, must not lose each other's keys, however often each one's save replaces the file
// while another waits.
TEST_F(IniFileTest, ConcurrentWritersLoseNoUpdate) {
    constexpr int kWriters = 8;
    constexpr int kKeys = 60;
    std::vector<std::string> failures(kWriters);
    auto writer = [&](int w) {
        TIniFile ini(path_);
        try {
            for (int i = 0; i < kKeys; ++i) ini.WriteInteger("W" + std::to_string(w), "k" + std::to_string(i), i);
        } catch (const EIniFileException& e) {
            failures[static_cast<size_t>(w)] = e.Message();
        }
    };
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w) threads.emplace_back(writer, w);
    for (std::thread& t : threads) t.join();
    TIniFile ini(path_);
    for (int w = 0; w < kWriters; ++w) {
        EXPECT_EQ(failures[static_cast<size_t>(w)], "") << w;
        EXPECT_EQ(ini.ReadSection("W" + std::to_string(w)).size(), std::size_t(kKeys)) << w;
    }
    EXPECT_EQ(DirEntries(), std::vector<std::string>{"settings.ini"});
}

// A writer that keeps the lock (a hung process) makes a save fail after the time-out, with
// the file left as it was, instead of blocking its caller for good.
TEST_F(IniFileTest, ASaveGivesUpWhenTheLockIsNotReleasedInTime) {
    Put(path_, "[S]\nk=1\n");
    const int holder = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    std::string message;
    try {
        TIniFile(path_, std::chrono::milliseconds(50)).WriteString("S", "k", "2");
    } catch (const EIniFileException& e) {
        message = e.Message();
    }
    ::close(holder);
    EXPECT_NE(message.find("lock"), std::string::npos) << message;
    EXPECT_EQ(Get(path_), "[S]\nk=1\n");
    TIniFile(path_, std::chrono::milliseconds(50)).WriteString("S", "k", "3");  // released: goes through
    EXPECT_EQ(Get(path_), "[S]\nk=3\n");
}

// ---- the parsed document ----

TEST(IniDocument, UnchangedDocumentGivesBackItsTextExactly) {
    const std::string texts[] = {
        "", "\n", "\r\n", "\r", "\r\r\n", "a", "[S]", "[S]\nk=v", "[S]\r\nk=v\r\n\n\r\n",
        "\xEF\xBB\xBF[S]\nk=v\n", "\0\0\n\xFF"s, "  [ S ] junk\n  k  =  v  \n",
    };
    for (const std::string& text : texts) EXPECT_EQ(TIniDocument::Parse(text).Text(), text);
}

TEST(IniDocument, ListsSectionsAndKeysOnceInFileOrder) {
    const TIniDocument doc = TIniDocument::Parse("[B]\nz=1\nZ=2\n[a]\ny=1\n[b]\nq=1\n[A]\n");
    EXPECT_EQ(doc.SectionNames(), (std::vector<std::string>{"B", "a"}));
    EXPECT_EQ(doc.KeyNames("b"), (std::vector<std::string>{"z"}));
}

}  // namespace
