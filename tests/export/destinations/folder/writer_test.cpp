// The output folder's writer: whole files or none, names kept inside the
// folder, links never followed, its own temporaries cleared.
#include "export/destinations/folder/writer.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace exptest {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void spit(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

// Every file under `folder`, by its path relative to it.
std::map<std::string, std::string> files(const fs::path& folder) {
    std::map<std::string, std::string> m;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) m[fs::relative(e.path(), folder).string()] = slurp(e.path());
    return m;
}

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/writer_test.XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
    fs::path path;
};

TEST(DocumentWriter, WritesTheStoredBytesFollowedByCrLf) {
    struct Case {
        std::string text, file;
    };
    const Case cases[] = {
        {"", "\r\n"},
        {"<a/>\r\n", "<a/>\r\n\r\n"},
        {"x\ny\r\nz", "x\ny\r\nz\r\n"},  // a lone LF stays
        {"  \t blanks kept \t ", "  \t blanks kept \t \r\n"},
        {std::string("a\0b", 3), std::string("a\0b\r\n", 5)},
        {"Jos\xE9 \x80\x81\x96\xFF", "Jos\xE9 \x80\x81\x96\xFF\r\n"},  // 8-bit bytes, no BOM
    };
    for (const auto method : {exports::WriteMethod::Auto, exports::WriteMethod::NamedTemporary}) {
        TempDir dir;
        for (const Case& c : cases) {
            const fs::path f = dir.path / "NFe1.XML";
            exports::writeDocument(f.string(), c.text, method);
            EXPECT_EQ(slurp(f), c.file);
        }
        // Each write replaced the one before: one file, nothing else beside it.
        EXPECT_EQ(files(dir.path).size(), 1u);
        struct stat st {};
        ASSERT_EQ(::stat((dir.path / "NFe1.XML").c_str(), &st), 0);
        const mode_t mask = ::umask(0);
        ::umask(mask);
        EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    }
}

TEST(DocumentWriter, FailureNamesTheFileAndLeavesNoTemporary) {
    for (const auto method : {exports::WriteMethod::Auto, exports::WriteMethod::NamedTemporary}) {
        TempDir dir;
        fs::create_directory(dir.path / "NFe2.XML");  // a folder in the way
        const std::string cases[] = {(dir.path / "missing" / "NFe1.XML").string(), (dir.path / "NFe2.XML").string()};
        for (const std::string& name : cases) {
            try {
                exports::writeDocument(name, "<a/>", method);
                ADD_FAILURE() << "no error for " << name;
            } catch (const exports::DocumentWriteError& e) {
                EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
            }
        }
        EXPECT_TRUE(files(dir.path).empty());
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
    }
}

TEST(DocumentWriter, RefusesNamePartsThatLeaveTheFolder) {
    struct Case {
        std::string part;
        bool unsafe;
    };
    const Case cases[] = {
        {"35201212345678000199550010000000011000079191", false},
        {"", false},
        {"a..b", false},
        {"12345678901   ", false},
        {"..", true},
        {".", true},
        {"../x", true},
        {"a/b", true},
        {"a\\b", true},
        {std::string("a\0b", 3), true},
        {"35AAA\nlinha2", true},
        {"35\x1B[2J", true},
        {"a\tb", true},
        {"a\x7F", true},
        {"\xC7\xE3o \xFF", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(exports::isUnsafeNamePart(c.part), c.unsafe) << c.part;
        if (c.unsafe) {
            EXPECT_THROW(exports::requireSafeNamePart("Chave de acesso", c.part), exports::DocumentWriteError);
        }
    }
}

// A key of 242-248 bytes used to fit once and then never be replaced, because
// the temporary name was the final name plus seven characters.
TEST(DocumentWriter, NamesUpToTheLimitAreWrittenAndReplaced) {
    struct Case {
        size_t length;
        bool fits;
    };
    const Case cases[] = {{248, true}, {255, true}, {256, false}, {400, false}};
    for (const auto method : {exports::WriteMethod::Auto, exports::WriteMethod::NamedTemporary}) {
        TempDir dir;
        for (const Case& c : cases) {
            const std::string name = "NFe" + std::string(c.length - 7, '1') + ".XML";
            const std::string file = (dir.path / name).string();
            EXPECT_EQ(exports::fileNameFits(file), c.fits) << c.length;
            if (c.fits) {
                exports::writeDocument(file, "<a/>", method);
                exports::writeDocument(file, "<b/>", method);
                EXPECT_EQ(slurp(file), "<b/>\r\n") << c.length;
                fs::remove(file);
                continue;
            }
            try {
                exports::writeDocument(file, "<a/>", method);
                ADD_FAILURE() << "no error for " << c.length;
            } catch (const exports::DocumentWriteError& e) {
                const std::string what = e.what();
                EXPECT_NE(what.find(std::to_string(c.length) + " bytes"), std::string::npos) << what;
                EXPECT_NE(what.find("255"), std::string::npos) << what;
            }
        }
        EXPECT_TRUE(fs::is_empty(dir.path));
    }
}

// What a folder's writer does with a file that is there already, both ways of writing.
TEST(FolderWriter, LeavesTheSameBytesAloneAndReplacesOthers) {
    for (const auto method : {exports::WriteMethod::Auto, exports::WriteMethod::NamedTemporary}) {
        TempDir dir;
        exports::FolderWriter writer(dir.path.string() + "/");
        EXPECT_TRUE(writer.put("NFe1.XML", "<a/>", method));
        const fs::path file = dir.path / "NFe1.XML";
        const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
        fs::last_write_time(file, old);
        EXPECT_FALSE(writer.put("NFe1.XML", "<a/>", method));
        EXPECT_EQ(fs::last_write_time(file), old);
        // A prefix of the text, or the text without its CR LF, is not the same file.
        for (const std::string& before : {std::string("<a/>"), std::string("<a/>\r\n\r\n"), std::string("<a")}) {
            spit(file, before);
            EXPECT_TRUE(writer.put("NFe1.XML", "<a/>", method)) << before;
            EXPECT_EQ(slurp(file), "<a/>\r\n");
        }
        // A FIFO planted under the name is replaced, not waited on.
        fs::remove(file);
        ASSERT_EQ(::mkfifo(file.c_str(), 0666), 0);
        EXPECT_TRUE(writer.put("NFe1.XML", "<a/>", method));
        EXPECT_EQ(slurp(file), "<a/>\r\n");
        EXPECT_EQ(files(dir.path).size(), 1u) << "a temporary was left";
    }
}

// The folder is pinned when the writer opens it: a link planted in its place
// afterwards leads no file out, and a link is refused where none may be.
TEST(FolderWriter, ALinkPutInTheFoldersPlaceLeadsNothingElsewhere) {
    TempDir dir;
    const fs::path inside = dir.path / "Entrada", elsewhere = dir.path / "elsewhere";
    fs::create_directory(inside);
    fs::create_directory(elsewhere);
    exports::FolderWriter writer(inside.string() + "/", false);
    fs::rename(inside, dir.path / "moved");
    fs::create_directory_symlink(elsewhere, inside);
    EXPECT_TRUE(writer.put("NFe1.XML", "<a/>"));
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_EQ(slurp(dir.path / "moved" / "NFe1.XML"), "<a/>\r\n");
    try {
        exports::FolderWriter refused(inside.string() + "/", false);
        ADD_FAILURE() << "a link was taken for the folder";
    } catch (const exports::DocumentWriteError& e) {
        EXPECT_NE(std::string(e.what()).find("é um link, não uma pasta"), std::string::npos) << e.what();
    }
    exports::FolderWriter followed(inside.string(), true);  // the output folder itself may be a link
    EXPECT_TRUE(followed.put("NFe2.XML", "<b/>"));
    EXPECT_EQ(slurp(elsewhere / "NFe2.XML"), "<b/>\r\n");
    for (const std::string bad : {"../NFe3.XML", "..", "a/b.XML"})
        EXPECT_THROW(followed.put(bad, "<c/>"), exports::DocumentWriteError) << bad;
}

TEST(DocumentWriter, TemporaryNamesAreTheWritersOwnPattern) {
    struct Case {
        std::string name;
        bool ours;
    };
    const Case cases[] = {
        {".exportar-Ab12Zz.tmp", true},
        {".exportar-000000.tmp", true},
        {".exportar-Ab12Z.tmp", false},    // five characters
        {".exportar-Ab12Zzz.tmp", false},  // seven
        {".exportar-Ab1-Zz.tmp", false},
        {".exportar-Ab12Zz.tmp.XML", false},
        {"exportar-Ab12Zz.tmp", false},
        {".Exportar-Ab12Zz.tmp", false},
        {".exportar-Ab12Zz.TMP", false},
        {"NFe1.XML.rRKXWU", false},  // an older version's temporary: left alone
        {"NFe1.XML", false},
    };
    for (const Case& c : cases) EXPECT_EQ(exports::isWriterTemporaryName(c.name), c.ours) << c.name;
}

TEST(DocumentWriter, LeftoverTemporariesOfOursAndNothingElseAreRemoved) {
    TempDir dir, outside;
    const fs::path target = outside.path / "precious.txt";
    spit(target, "keep");
    spit(dir.path / ".exportar-Ab12Zz.tmp", "half a document");
    spit(dir.path / ".exportar-Q1w2E3.tmp", "");
    const std::string lookAlikes[] = {".exportar-Ab12Z.tmp", ".exportar-Ab12Zz.tmp.XML", "exportar-Ab12Zz.tmp",
                                      "NFe1.XML.rRKXWU", "NFe1.XML"};
    for (const std::string& name : lookAlikes) spit(dir.path / name, "not ours");
    fs::create_symlink(target, dir.path / ".exportar-Link01.tmp");
    fs::create_directory(dir.path / ".exportar-Fold01.tmp");
    spit(dir.path / ".exportar-Fold01.tmp" / ".exportar-Deep01.tmp", "one level only");

    EXPECT_EQ(exports::removeLeftoverTemporaries(dir.path.string()), 2);
    std::set<std::string> left;
    for (const auto& e : fs::directory_iterator(dir.path)) left.insert(e.path().filename().string());
    std::set<std::string> expected(std::begin(lookAlikes), std::end(lookAlikes));
    expected.insert({".exportar-Link01.tmp", ".exportar-Fold01.tmp"});
    EXPECT_EQ(left, expected);
    EXPECT_EQ(slurp(target), "keep");
    EXPECT_TRUE(fs::exists(dir.path / ".exportar-Fold01.tmp" / ".exportar-Deep01.tmp"));
    EXPECT_EQ(exports::removeLeftoverTemporaries((dir.path / "missing").string()), 0);
}

// A process killed in the middle of a write (here by the file size limit's
// signal, which ends it as SIGKILL would) leaves at most one temporary of the
// writer's pattern, which the next run's clean-up removes; never a .XML file.
TEST(DocumentWriter, AKillMidWriteLeavesOnlyWhatTheNextRunRemoves) {
    for (const auto method : {exports::WriteMethod::Auto, exports::WriteMethod::NamedTemporary}) {
        TempDir dir;
        const std::string file = (dir.path / "NFe1.XML").string();
        spit(file, "old\r\n");
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::signal(SIGXFSZ, SIG_DFL);
            struct rlimit small {
                4096, 4096
            };
            ::setrlimit(RLIMIT_FSIZE, &small);
            try {
                exports::writeDocument(file, std::string(1 << 20, 'x'), method);
            } catch (...) {
            }
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << "the write was not interrupted";
        EXPECT_EQ(slurp(file), "old\r\n");
        for (const auto& e : fs::directory_iterator(dir.path)) {
            const std::string name = e.path().filename().string();
            EXPECT_TRUE(name == "NFe1.XML" || exports::isWriterTemporaryName(name)) << name;
        }
        exports::removeLeftoverTemporaries(dir.path.string());
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
    }
}

}  // namespace
}  // namespace exptest
