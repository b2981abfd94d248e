#include "KeyStore.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <system_error>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

struct TempDir {
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "keystore-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path path;
};

void Put(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string Get(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs `fn`, expects ERegistryException and returns its message.
template <typename Fn>
std::string ErrorOf(Fn&& fn) {
    try {
        fn();
    } catch (const ERegistryException& e) {
        return e.Message();
    }
    ADD_FAILURE() << "no ERegistryException";
    return {};
}

// ---- behaviour every store shares ----

struct StoreKind {
    const char* name;
    std::function<std::unique_ptr<TKeyStore>(const fs::path& dir)> make;
};

class KeyStoreContract : public ::testing::TestWithParam<StoreKind> {
protected:
    void SetUp() override { store_ = GetParam().make(dir_.path); }
    TempDir dir_;
    std::unique_ptr<TKeyStore> store_;
};

TEST_P(KeyStoreContract, MissingValues) {
    EXPECT_EQ(store_->ReadString("Port"), "");
    EXPECT_FALSE(store_->ValueExists("Port"));
    const std::string message = ErrorOf([&] { store_->ReadInteger("Buffer.OutputSize"); });
    EXPECT_NE(message.find("Buffer.OutputSize"), std::string::npos) << message;
    // Reading creates nothing.
    EXPECT_FALSE(store_->ValueExists("Buffer.OutputSize"));
}

TEST_P(KeyStoreContract, WrongTypeThrowsBothWays) {
    store_->WriteInteger("Number", 5);
    store_->WriteString("Text", "5");
    std::string message = ErrorOf([&] { store_->ReadString("Number"); });
    EXPECT_NE(message.find("Number"), std::string::npos) << message;
    message = ErrorOf([&] { store_->ReadInteger("Text"); });
    EXPECT_NE(message.find("Text"), std::string::npos) << message;
    // The failed reads changed nothing.
    EXPECT_EQ(store_->ReadInteger("Number"), 5);
    EXPECT_EQ(store_->ReadString("Text"), "5");
}

TEST_P(KeyStoreContract, WritingReplacesValueAndType) {
    store_->WriteString("V", "text");
    store_->WriteInteger("v", 7);
    EXPECT_EQ(store_->ReadInteger("V"), 7);
    EXPECT_THROW(store_->ReadString("V"), ERegistryException);
    store_->WriteString("V", "again");
    EXPECT_EQ(store_->ReadString("v"), "again");
    EXPECT_THROW(store_->ReadInteger("V"), ERegistryException);
}

TEST_P(KeyStoreContract, NamesMatchIgnoringAsciiCase) {
    store_->WriteString("FlowControl.XonChar", "#17");
    EXPECT_TRUE(store_->ValueExists("FLOWCONTROL.XONCHAR"));
    EXPECT_EQ(store_->ReadString("flowcontrol.xonchar"), "#17");
    // Only ASCII folds: these are different names.
    store_->WriteString("\xC4", "upper");
    store_->WriteString("\xE4", "lower");
    EXPECT_EQ(store_->ReadString("\xC4"), "upper");
    EXPECT_EQ(store_->ReadString("\xE4"), "lower");
}

TEST_P(KeyStoreContract, NumbersRoundTrip) {
    for (const int32_t value : {0, 1, -1, 9600, INT32_MAX, INT32_MIN}) {
        store_->WriteInteger("N", value);
        EXPECT_EQ(store_->ReadInteger("N"), value);
    }
}

TEST_P(KeyStoreContract, AwkwardTextsAndNamesRoundTrip) {
    const std::pair<std::string, std::string> values[] = {
        {"Equals", "a=b=c"},
        {"Lines", "line1\nline2\r\nline3\r"},
        {"Nul", "before\0after"s},
        {"HighBytes", "\xFF\x80\xC3\xA4"},
        {"Backslash", "C:\\dir\\x41"},  // a literal \x41 must not turn into "A"
        {"Empty", ""},
        {"Blanks", "  padded  "},
        {"Hash", "#17"},
        {"LooksLikeALine", "S Port=COM1"},
        {"name=with=equals", "1"},
        {"name\nwith newline", "2"},
        {"\\x3D", "3"},
        {"", "the empty name"},
        {"\0"s, "nul name"},
    };
    for (const auto& [name, text] : values) store_->WriteString(name, text);
    for (const auto& [name, text] : values) {
        EXPECT_TRUE(store_->ValueExists(name)) << name;
        EXPECT_EQ(store_->ReadString(name), text) << name;
    }
}

const StoreKind kKinds[] = {
    {"Memory", [](const fs::path&) { return std::make_unique<TMemoryKeyStore>(); }},
    {"File", [](const fs::path& dir) { return std::make_unique<TFileKeyStore>((dir / "key.txt").string()); }},
};

INSTANTIATE_TEST_SUITE_P(Stores, KeyStoreContract, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- the file-backed store ----

class FileKeyStoreTest : public ::testing::Test {
protected:
    TempDir dir_;
    fs::path file_ = dir_.path / "ComPort1.key";
};

TEST_F(FileKeyStoreTest, ReloadGivesWhatWasWrittenInOrderWithTypes) {
    {
        TFileKeyStore store(file_.string());
        store.WriteString("Port", "COM1");
        store.WriteString("BaudRate", "115200");
        store.WriteInteger("Buffer.InputSize", 1024);
        store.WriteString("Odd", "x=\n\0\xFF"s);
        store.WriteInteger("BUFFER.INPUTSIZE", -3);  // replaces, keeps first spelling and place
    }
    const TMemoryKeyStore loaded = TFileKeyStore::Parse(Get(file_));
    const std::vector<TMemoryKeyStore::TEntry> expected = {
        {"Port", "COM1"s}, {"BaudRate", "115200"s}, {"Buffer.InputSize", -3}, {"Odd", "x=\n\0\xFF"s}};
    ASSERT_EQ(loaded.Entries().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(loaded.Entries()[i].name, expected[i].name);
        EXPECT_EQ(loaded.Entries()[i].value, expected[i].value) << expected[i].name;
    }
    TFileKeyStore reopened(file_.string());
    EXPECT_EQ(reopened.ReadInteger("buffer.inputsize"), -3);
    EXPECT_EQ(reopened.ReadString("odd"), "x=\n\0\xFF"s);
}

TEST_F(FileKeyStoreTest, FileIsTheDocumentedLineFormat) {
    TFileKeyStore store(file_.string());
    store.WriteString("Port", "COM1");
    store.WriteInteger("Baud", -115200);
    store.WriteString("a=b", "x=y\\\n\t\x7F\xE4");
    EXPECT_EQ(Get(file_),
              "# Tarnwick key store\n"
              "S Port=COM1\n"
              "N Baud=-115200\n"
              "S a\\x3Db=x=y\\\\\\x0A\\x09\\x7F\xE4\n");
}

TEST_F(FileKeyStoreTest, HandEditedFileIsRead) {
    Put(file_, "# comment\r\n\r\nS Port=COM2\r\nN Rate=0\r\n\nS A=\\x41\\\\x41");
    TFileKeyStore store(file_.string());
    EXPECT_EQ(store.ReadString("Port"), "COM2");
    EXPECT_EQ(store.ReadInteger("Rate"), 0);
    EXPECT_EQ(store.ReadString("A"), "A\\x41");
}

TEST_F(FileKeyStoreTest, DamagedFileThrowsAndIsNotOverwritten) {
    const std::string damaged[] = {
        "X Port=COM1\n",     "SPort=COM1\n",   "S Port\n",        "S Port=\\q\n",     "S Port=\\x4\n",
        "S Port=\\xZZ\n",    "S Port=end\\\n", "N Rate=12x\n",    "N Rate=0x10\n",    "N Rate=+5\n",
        "N Rate=\n",         "N Rate=99999999999\n",              "S P=1\nS p=2\n",
    };
    for (const std::string& text : damaged) {
        SCOPED_TRACE(text);
        Put(file_, text);
        TFileKeyStore store(file_.string());
        const std::string message = ErrorOf([&] { store.ReadString("Port"); });
        EXPECT_NE(message.find(file_.string()), std::string::npos) << message;
        EXPECT_THROW(store.WriteString("Port", "COM9"), ERegistryException);
        EXPECT_EQ(Get(file_), text);
    }
}

TEST_F(FileKeyStoreTest, IoFailuresThrowNamingTheFile) {
    const fs::path missing = dir_.path / "missing" / "k.key";
    TFileKeyStore inMissingDir(missing.string());
    EXPECT_EQ(inMissingDir.ReadString("Port"), "");  // nothing stored yet
    std::string message = ErrorOf([&] { inMissingDir.WriteString("Port", "COM1"); });
    EXPECT_NE(message.find(missing.string()), std::string::npos) << message;
    EXPECT_NE(message.find(std::generic_category().message(ENOENT)), std::string::npos) << message;
    EXPECT_THROW(inMissingDir.WriteInteger("N", 1), ERegistryException);
    EXPECT_FALSE(fs::exists(missing.parent_path()));

    TFileKeyStore onDirectory(dir_.path.string());
    message = ErrorOf([&] { onDirectory.ReadString("Port"); });
    EXPECT_NE(message.find(std::generic_category().message(EISDIR)), std::string::npos) << message;
    EXPECT_THROW(onDirectory.WriteString("Port", "COM1"), ERegistryException);
    EXPECT_TRUE(fs::is_empty(dir_.path));
}

}  // namespace
