#include "platform/ini_file.h"

#include "tests/support/prerequisites.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <csignal>
#include <sys/resource.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <strings.h>
#include <functional>

namespace fs = std::filesystem;
using platform::GetPrivateProfileString;
using platform::WritePrivateProfileString;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/ini_test.XXXXXX";
        dir_ = ::mkdtemp(tmpl);
        file_ = (dir_ / "ConfigQuillan.ini").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void put(const std::string& bytes) { std::ofstream(file_, std::ios::binary) << bytes; }
    std::string contents() const {
        std::ifstream in(file_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::string get(const std::string& section, const std::string& key) const {
        return GetPrivateProfileString(section, key, "", file_);
    }
    int filesInDir() const {
        int n = 0;
        for ([[maybe_unused]] auto& e : fs::directory_iterator(dir_)) ++n;
        return n;
    }

    fs::path dir_;
    std::string file_;
};

struct ReadCase {
    const char* name;
    std::string file;
    std::string section, key, expected;
};

TEST_F(IniFileTest, ReadsValuesAsTheProfileFunctionsDo) {
    const std::string longValue(3000, 'x');
    const ReadCase cases[] = {
        {"exact", "[Configuracoes]\r\nBase=/db/x.fdb\r\n", "Configuracoes", "Base", "/db/x.fdb"},
        {"section case", "[CONFIGURACOES]\r\nBase=a\r\n", "Configuracoes", "Base", "a"},
        {"key case", "[Configuracoes]\r\nbAsE=a\r\n", "configuracoes", "BASE", "a"},
        {"lf only", "[S]\nK=v\nL=w\n", "S", "L", "w"},
        {"last line without eol", "[S]\r\nK=v", "S", "K", "v"},
        {"blanks around", "  [ S ]  \r\n  K  =  v v  \r\n", "S", "K", "v v"},
        {"double quotes dropped", "[S]\r\nK=\"a b\"\r\n", "S", "K", "a b"},
        {"single quotes dropped", "[S]\r\nK='a b'\r\n", "S", "K", "a b"},
        {"unpaired quote kept", "[S]\r\nK=\"a b\r\n", "S", "K", "\"a b"},
        {"inner quotes kept", "[S]\r\nK=a \"b\" c\r\n", "S", "K", "a \"b\" c"},
        {"missing key", "[S]\r\nK=v\r\n", "S", "X", ""},
        {"missing section", "[S]\r\nK=v\r\n", "T", "K", ""},
        {"key of another section", "[S]\r\nA=1\r\n[T]\r\nK=v\r\n", "S", "K", ""},
        {"first duplicate key wins", "[S]\r\nK=1\r\nK=2\r\n", "S", "K", "1"},
        {"first duplicate section wins", "[S]\r\nK=1\r\n[S]\r\nK=2\r\n", "S", "K", "1"},
        {"later duplicate section not searched", "[S]\r\nA=1\r\n[S]\r\nK=2\r\n", "S", "K", ""},
        {"garbage lines skipped", "\x01\x02garbage\r\n[S]\r\nnoequals\r\n]]]\r\nK=v\r\n", "S", "K", "v"},
        {"key before any section", "K=v\r\n[S]\r\n", "S", "K", ""},
        {"empty value", "[S]\r\nK=\r\n", "S", "K", ""},
        {"equals in value", "[S]\r\nK=a=b\r\n", "S", "K", "a=b"},
        {"bytes unchanged", "[S]\r\nK=C:\\Dados\\Empresa\xC7\xE3o.fdb\r\n", "S", "K",
         "C:\\Dados\\Empresa\xC7\xE3o.fdb"},
        {"nul byte in another line", std::string("[S]\r\nA=\0x\r\nK=v\r\n", 15), "S", "K", "v"},
        {"cut at 2047", "[S]\r\nK=" + longValue + "\r\n", "S", "K", longValue.substr(0, 2047)},
        {"utf-8 byte-order mark", "\xEF\xBB\xBF[S]\r\nK=v\r\n", "S", "K", "v"},
        {"lines ending in a lone cr", "[S]\rA=1\rK=v\r[T]\rK=w\r", "S", "K", "v"},
        {"mixed line ends", "[S]\nA=1\r\nK=v\r[T]\n", "S", "K", "v"},
        {"nul inside the value kept", std::string("[S]\r\nK=a\0b\r\n", 12), "S", "K", std::string("a\0b", 3)},
    };
    for (const ReadCase& c : cases) {
        put(c.file);
        EXPECT_EQ(get(c.section, c.key), c.expected) << c.name;
        // The whole section read at once gives every key the same value.
        std::string fromSection;
        for (const auto& [k, v] : platform::GetPrivateProfileSection(c.section, file_))
            if (::strcasecmp(k.c_str(), c.key.c_str()) == 0) {
                fromSection = v;
                break;
            }
        EXPECT_EQ(fromSection, c.expected) << c.name << " (whole section)";
    }
}

TEST_F(IniFileTest, MissingFileGivesTheDefault) {
    EXPECT_EQ(GetPrivateProfileString("S", "K", "dflt", file_), "dflt");
    EXPECT_FALSE(fs::exists(file_));
}

TEST_F(IniFileTest, FirstWritesCreateTheFileInOrder) {
    const char* keys[] = {
        "Base", "Data", "Hora", "PastaExportar", "ExportaEmitidas", "ExportaEmitidasVeiculos", "ExportaRecebidas"};
    const char* values[] = {"", "01/01/2010", "00:00:00", "", "", "", ""};
    for (int i = 0; i < 7; ++i) ASSERT_TRUE(WritePrivateProfileString("Configuracoes", keys[i], values[i], file_));
    EXPECT_EQ(contents(),
              "[Configuracoes]\r\nBase=\r\nData=01/01/2010\r\nHora=00:00:00\r\nPastaExportar=\r\n"
              "ExportaEmitidas=\r\nExportaEmitidasVeiculos=\r\nExportaRecebidas=\r\n");
}

struct WriteCase {
    const char* name;
    std::string before;
    std::string section, key, value;
    std::string after;
};

TEST_F(IniFileTest, WritesReplaceOrAppendInPlace) {
    const WriteCase cases[] = {
        {"replace keeps other lines", "[S]\r\nA=1\r\nK=old\r\nB=2\r\n", "S", "K", "new",
         "[S]\r\nA=1\r\nK=new\r\nB=2\r\n"},
        {"replace keeps stored key spelling", "[S]\r\n  kEy = old \r\n", "S", "KEY", "n", "[S]\r\nkEy=n\r\n"},
        {"new key at end of its section", "[S]\r\nA=1\r\n\r\n[T]\r\nB=2\r\n", "s", "K", "v",
         "[S]\r\nA=1\r\nK=v\r\n\r\n[T]\r\nB=2\r\n"},
        {"new key in empty section", "[S]\r\n[T]\r\n", "S", "K", "v", "[S]\r\nK=v\r\n[T]\r\n"},
        {"new key after last line without eol", "[S]\r\nA=1", "S", "K", "v", "[S]\r\nA=1\r\nK=v\r\n"},
        {"new section at end", "[T]\r\nB=2\r\n", "S", "K", "v", "[T]\r\nB=2\r\n[S]\r\nK=v\r\n"},
        {"lf file stays lf", "[S]\nA=1\n", "S", "K", "v", "[S]\nA=1\nK=v\n"},
        {"cr file stays cr", "[S]\rA=1\rK=0\r[T]\rB=2", "S", "K", "v", "[S]\rA=1\rK=v\r[T]\rB=2"},
        {"cr file gets a cr line", "[S]\rA=1\r", "S", "K", "v", "[S]\rA=1\rK=v\r"},
        {"comments and garbage survive", "; note\r\n\x01junk\r\n[S]\r\nK=1\r\n", "S", "K", "2",
         "; note\r\n\x01junk\r\n[S]\r\nK=2\r\n"},
        {"only first duplicate changes", "[S]\r\nK=1\r\nK=2\r\n", "S", "K", "3", "[S]\r\nK=3\r\nK=2\r\n"},
        {"new key goes to the first of duplicate sections", "[S]\r\nA=1\r\n[S]\r\nK=2\r\n", "S", "K", "3",
         "[S]\r\nA=1\r\nK=3\r\n[S]\r\nK=2\r\n"},
        {"empty file", "", "S", "K", "v", "[S]\r\nK=v\r\n"},
        {"byte-order mark kept", "\xEF\xBB\xBF[S]\r\nK=1\r\n", "S", "K", "2", "\xEF\xBB\xBF[S]\r\nK=2\r\n"},
    };
    for (const WriteCase& c : cases) {
        put(c.before);
        ASSERT_TRUE(WritePrivateProfileString(c.section, c.key, c.value, file_)) << c.name;
        EXPECT_EQ(contents(), c.after) << c.name;
        EXPECT_EQ(get(c.section, c.key), c.value) << c.name;
    }
}

TEST_F(IniFileTest, ValuesThatWouldBreakTheFileAreRefused) {
    put("[S]\r\nK=1\r\n");
    EXPECT_FALSE(WritePrivateProfileString("S", "K", "a\r\nX=evil", file_));
    EXPECT_FALSE(WritePrivateProfileString("S", "K=", "v", file_));
    EXPECT_FALSE(WritePrivateProfileString("S]", "K", "v", file_));
    EXPECT_EQ(contents(), "[S]\r\nK=1\r\n");
}

TEST_F(IniFileTest, FailedWriteLeavesTheOldFileAndNoTemporary) {
    // A file size limit makes the write fail half-way, as a full disk would.
    const std::string before = "[S]\r\nK=1\r\n" + std::string(200, ';') + "\r\n";
    put(before);
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit small = old;
    small.rlim_cur = 64;
    auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    const bool ok = WritePrivateProfileString("S", "K", "2", file_);
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(ok);
    EXPECT_EQ(contents(), before);
    EXPECT_EQ(filesInDir(), 1) << "temporary file left behind";
}

TEST_F(IniFileTest, WriteIntoMissingFolderFails) {
    EXPECT_FALSE(WritePrivateProfileString("S", "K", "v", (dir_ / "nope" / "x.ini").string()));
}

TEST_F(IniFileTest, WriteReplacesTheFileWholeAndKeepsItsMode) {
    put("[S]\r\nK=1\r\n");
    ::chmod(file_.c_str(), 0640);
    struct stat before {};
    ::stat(file_.c_str(), &before);
    ASSERT_TRUE(WritePrivateProfileString("S", "K", "2", file_));
    struct stat after {};
    ::stat(file_.c_str(), &after);
    EXPECT_NE(before.st_ino, after.st_ino) << "written in place instead of replaced";
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(filesInDir(), 1) << "temporary file left behind";
}

TEST_F(IniFileTest, WriteThroughSymlinkKeepsTheLink) {
    fs::path real = dir_ / "real.ini";
    std::ofstream(real, std::ios::binary) << "[S]\r\nK=1\r\n";
    fs::create_symlink(real, file_);
    ASSERT_TRUE(WritePrivateProfileString("S", "K", "2", file_));
    EXPECT_TRUE(fs::is_symlink(file_));
    EXPECT_EQ(GetPrivateProfileString("S", "K", "", real.string()), "2");
}

TEST_F(IniFileTest, ReadOnlyFileIsNeverReplaced) {
    put("[S]\r\nK=1\r\n");
    ::chmod(file_.c_str(), 0444);
    struct stat before {};
    ::stat(file_.c_str(), &before);
    errno = 0;
    EXPECT_FALSE(platform::ProbeProfileWrite(file_));
    EXPECT_EQ(errno, EACCES);
    EXPECT_FALSE(WritePrivateProfileString("S", "K", "2", file_));
    EXPECT_EQ(errno, EACCES);
    struct stat after {};
    ::stat(file_.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(contents(), "[S]\r\nK=1\r\n");
    EXPECT_EQ(filesInDir(), 1);
}

TEST_F(IniFileTest, WriteKeepsOwnerGroupAndMode) {
    REQUIRE_PREREQUISITE(::geteuid() == 0, "needs root to give the file to another user");
    put("[S]\r\nK=1\r\n");
    ASSERT_EQ(::chown(file_.c_str(), 65534, 65534), 0);
    ::chmod(file_.c_str(), 0660);
    ASSERT_TRUE(WritePrivateProfileString("S", "K", "2", file_));
    struct stat after {};
    ::stat(file_.c_str(), &after);
    EXPECT_EQ(after.st_uid, 65534u);
    EXPECT_EQ(after.st_gid, 65534u);
    EXPECT_EQ(after.st_mode & 07777, 0660u);
    EXPECT_EQ(get("S", "K"), "2");
}

// The probe takes every step of a write but the rename: it succeeds and fails
// where a write would, and leaves the folder as it was.
TEST_F(IniFileTest, ProbeSaysWhetherAWriteWouldSucceed) {
    put("[S]\r\nK=1\r\n");
    EXPECT_TRUE(platform::ProbeProfileWrite(file_));
    EXPECT_TRUE(platform::ProbeProfileWrite((dir_ / "new.ini").string()));  // created by the first write
    EXPECT_EQ(contents(), "[S]\r\nK=1\r\n");
    EXPECT_EQ(filesInDir(), 1);

    fs::create_directory(dir_ / "folder.ini");
    errno = 0;
    EXPECT_FALSE(platform::ProbeProfileWrite((dir_ / "folder.ini").string()));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_FALSE(platform::ProbeProfileWrite((dir_ / "missing" / "x.ini").string()));
    EXPECT_EQ(errno, ENOENT);
}

// Runs `body` as the unprivileged user "nobody" in a child; returns its result.
int asNobody(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(200);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

TEST_F(IniFileTest, FolderThatIsNotWritableIsFoundBeforeWriting) {
    REQUIRE_PREREQUISITE(::geteuid() == 0, "needs root to run as another user");
    put("[S]\r\nK=1\r\n");
    ::chmod(file_.c_str(), 0666);  // the file itself is writable for everyone
    ::chmod(dir_.c_str(), 0755);
    const int probe = asNobody([&] { return platform::ProbeProfileWrite(file_) ? 0 : errno; });
    EXPECT_EQ(probe, EACCES);
    const int write = asNobody([&] { return WritePrivateProfileString("S", "K", "2", file_) ? 0 : errno; });
    EXPECT_EQ(write, EACCES);
    EXPECT_EQ(contents(), "[S]\r\nK=1\r\n");
}

// A real full disk: a small tmpfs, mounted in a mount namespace of this
// process only, filled up.
TEST_F(IniFileTest, FullDiskIsFoundBeforeWritingAndLeavesTheFile) {
    REQUIRE_PREREQUISITE(::unshare(CLONE_NEWNS) == 0 && ::mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) == 0,
                         std::string("cannot make a private mount namespace here: ") + std::strerror(errno));
    const fs::path disk = dir_ / "disk";
    fs::create_directory(disk);
    REQUIRE_PREREQUISITE(::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") == 0,
                         std::string("cannot mount a tmpfs here: ") + std::strerror(errno));
    struct Unmount {
        fs::path p;
        ~Unmount() { ::umount2(p.c_str(), MNT_DETACH); }
    } unmount{disk};
    const std::string ini = (disk / "ConfigQuillan.ini").string();
    const std::string before = "[S]\r\nK=1\r\n";
    std::ofstream(ini, std::ios::binary) << before;
    EXPECT_TRUE(platform::ProbeProfileWrite(ini));
    {
        std::ofstream filler(disk / "filler", std::ios::binary);
        const std::string block(4096, 'x');
        for (int i = 0; i < 64 && filler; ++i) filler << block << std::flush;
    }
    errno = 0;
    EXPECT_FALSE(platform::ProbeProfileWrite(ini));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_FALSE(WritePrivateProfileString("S", "K", "2", ini));
    EXPECT_EQ(GetPrivateProfileString("S", "K", "", ini), "1");
    int entries = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator(disk)) ++entries;
    EXPECT_EQ(entries, 2) << "temporary file left behind";
}

TEST_F(IniFileTest, FifoInTheFilesPlaceDoesNotHang) {
    ASSERT_EQ(::mkfifo(file_.c_str(), 0644), 0);
    EXPECT_EQ(GetPrivateProfileString("S", "K", "d", file_), "d");
    EXPECT_FALSE(WritePrivateProfileString("S", "K", "v", file_));
    EXPECT_FALSE(platform::ProbeProfileWrite(file_));
}

}  // namespace
