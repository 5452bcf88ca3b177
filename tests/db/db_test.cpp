// The database layer against real Firebird databases, opened with the
// embedded engine (plain path) and through the server (localhost:path).
#include "db/database.h"
#include "demo_queries.h"
#include "tests/support/prerequisites.h"
#include "tools/fbfixture/fixture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kAppLogin = {"user_name=KORVA", "password=##736948"};

std::shared_ptr<db::FbClient> client() {
    static std::shared_ptr<db::FbClient> c = db::FbClient::load(db::clientLibraryName());
    return c;
}

// Every value kind, with a row of NULLs. Text bytes are Windows-1252.
const char* kKindsScript = R"(
CREATE TABLE KINDS (
  ID INTEGER NOT NULL PRIMARY KEY,
  S SMALLINT, N INTEGER, B BIGINT, M NUMERIC(15,2),
  D DATE, TS TIMESTAMP, T TIME,
  C CHAR(10), V VARCHAR(40), X BLOB SUB_TYPE TEXT);
GRANT SELECT ON KINDS TO PUBLIC;
INSERT INTO KINDS VALUES (1, 7, 42, 9000000000, 1234.50,
  '2021-01-09', '2020-12-25 10:05:37', '08:09:10',
  'Jo)"
                           "\xE3"
                           R"(o', 'Concei)"
                           "\xE7\xE3"
                           R"(o', 'a' || ASCII_CHAR(13) || ASCII_CHAR(10) || 'b' || ASCII_CHAR(10) || 'c');
INSERT INTO KINDS VALUES (2, -7, -42, -9000000000, -0.05,
  '1899-12-30', '2021-01-10 00:00:00', '00:00:00',
  '', '  blanks kept  ', '');
INSERT INTO KINDS (ID) VALUES (3);
)";

enum class Mode { Embedded, Server };

std::string modeName(const testing::TestParamInfo<Mode>& i) {
    return i.param == Mode::Embedded ? "Embedded" : "Server";
}

class DbTest : public testing::TestWithParam<Mode> {
protected:
    void SetUp() override {
        if (GetParam() == Mode::Server) REQUIRE_FIREBIRD_SERVER();
        char tmpl[] = "/tmp/dbtest.XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        dir_ = tmpl;
        fs::permissions(dir_, fs::perms::all);  // a server running as another user
        file_ = dir_ + "/test.fdb";
        fixture::Credentials sysdba;
        fixture::createDatabase(client(), file_, sysdba);
        fixture::createSchema(client(), file_, sysdba, fixture::Schema{});
        fixture::fillDemo(client(), file_, sysdba, fixture::Schema{});
        fixture::runScript(client(), file_, sysdba, kKindsScript);
        fs::permissions(file_, fs::perms::all);
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    std::string name() const { return GetParam() == Mode::Server ? "localhost:" + file_ : file_; }
    void connect() { database_ = std::make_unique<db::Database>(client(), name(), kAppLogin); }
    db::Database& database() { return *database_; }
    // The first column of every row, as text.
    static std::vector<std::string> column(db::Query& q) {
        std::vector<std::string> out;
        for (q.execute(); !q.eof(); q.next()) out.push_back(q.text(0));
        return out;
    }

    std::string dir_, file_;
    std::unique_ptr<db::Database> database_;
};

TEST_P(DbTest, ValuesReadAsStored) {
    connect();
    db::Query q(database(), "SELECT ID, S, N, B, C, V, X FROM KINDS ORDER BY ID");
    struct Row {
        int64_t s, n, b;
        std::string c, v, x;
    };
    const Row want[] = {
        {7, 42, 9000000000, "Jo\xE3o      ", "Concei\xE7\xE3o", "a\r\nb\nc"},
        {-7, -42, -9000000000, "          ", "  blanks kept  ", ""},
        {0, 0, 0, "", "", ""},  // NULLs
    };
    q.execute();
    for (const Row& row : want) {
        ASSERT_FALSE(q.eof());
        const int64_t id = q.integer(0);
        EXPECT_EQ(q.integer(1), row.s) << id;
        EXPECT_EQ(q.integer(2), row.n) << id;
        EXPECT_EQ(q.integer(3), row.b) << id;
        EXPECT_EQ(q.text(4), row.c) << id;
        EXPECT_EQ(q.text(5), row.v) << id;
        EXPECT_EQ(q.text(6), row.x) << id;
        // Only row 3 is NULL: the empty text and the blank CHAR of row 2 are not.
        for (int c = 1; c <= 6; ++c) EXPECT_EQ(q.isNull(c), id == 3) << id << " column " << c;
        q.next();
    }
    EXPECT_TRUE(q.eof());

    // Kinds the program never reads are refused, not guessed at.
    db::Query other(database(), "SELECT M, D, TS, T, N FROM KINDS WHERE ID = 1");
    other.execute();
    for (int c = 0; c < 4; ++c) {
        EXPECT_THROW(other.text(c), db::DbError) << c;
        EXPECT_THROW(other.integer(c), db::DbError) << c;
    }
    EXPECT_THROW(other.text(4), db::DbError);  // a number is no text
}

TEST_P(DbTest, TextBlobOverManySegmentsReadsWhole) {
    std::string big;
    for (int i = 0; big.size() < 300 * 1024; ++i) {
        big += static_cast<char>(1 + i % 255);  // every byte value but NUL
        if (i % 997 == 0) big += "\r\n";
    }
    fixture::setText(client(), file_, {}, 1, "NFE_DISTRIBUICAO", big);
    connect();
    db::Query q(database(), demo_queries::kTexts);
    q.setInteger("SEQUENCIAL", 1);
    q.execute();
    ASSERT_FALSE(q.eof());
    std::string got = q.text(2);
    EXPECT_EQ(got.size(), big.size());
    EXPECT_TRUE(got == big);
    EXPECT_EQ(q.text(2), got);  // a second read gives the same text
    q.next();
    EXPECT_TRUE(q.eof());
    // The demo's 100 KB document, accents and all.
    q.setInteger("sequencial", 12);
    q.execute();
    std::string doc = q.text(3);
    EXPECT_GT(doc.size(), 100u * 1024);
    EXPECT_NE(doc.find("Parafuso sextavado \xBC\" a\xE7o inox \x96 item 1</xProd>"), std::string::npos);
    EXPECT_EQ(doc.substr(doc.size() - 25), "</infNFe></NFe></nfeProc>");
}

TEST_P(DbTest, Parameters) {
    connect();
    struct Case {
        const char* what;
        const char* where;
        void (*bind)(db::Query&);
        std::vector<std::string> ids;
    };
    const std::vector<Case> cases = {
        {"integer", "N = :P", [](db::Query& q) { q.setInteger("p", 42); }, {"1"}},
        {"negative integer", "B = :P", [](db::Query& q) { q.setInteger("p", -9000000000LL); }, {"2"}},
        {"text converted by the server", "N = :P", [](db::Query& q) { q.setText("p", "42"); }, {"1"}},
        {"text to a date column", "D = :P", [](db::Query& q) { q.setText("p", "2021-01-09"); }, {"1"}},
        {"text bytes compared as stored", "V = :P", [](db::Query& q) { q.setText("p", "Concei\xE7\xE3o"); }, {"1"}},
        {"empty text is NULL", "N = :P OR N IS NOT DISTINCT FROM :P", [](db::Query& q) { q.setText("p", ""); }, {"3"}},
        {"unassigned is NULL", "S IS NOT DISTINCT FROM :P", [](db::Query&) {}, {"3"}},
        {"a literal's colons are no parameter",
         "TS = '2020-12-25 10:05:37' AND V <> ':P' -- :Q",
         [](db::Query& q) { EXPECT_THROW(q.setText("Q", "x"), db::DbError); },
         {"1"}},
    };
    for (const Case& c : cases) {
        db::Query q(database(),
                    std::string("SELECT CAST(ID AS VARCHAR(4)) FROM KINDS WHERE ") + c.where + " ORDER BY ID");
        c.bind(q);
        EXPECT_EQ(column(q), c.ids) << c.what;
    }
    db::Query q(database(), "SELECT ID FROM KINDS WHERE ID = :a");
    EXPECT_THROW(q.setInteger("not_a_param", 1), db::DbError);
    // A value stays for the next run until set again.
    q.setInteger("A", 2);
    q.execute();
    EXPECT_EQ(q.integer(0), 2);
    q.execute();
    EXPECT_EQ(q.integer(0), 2);
}

TEST_P(DbTest, DemoDocumentsAndPeriods) {
    connect();
    db::Query documents(database(), demo_queries::kDocuments);
    // Without a key (8) or without any text (9): not exportable.
    std::vector<int64_t> seqs;
    for (documents.execute(); !documents.eof(); documents.next()) seqs.push_back(documents.integer(0));
    EXPECT_EQ(seqs, (std::vector<int64_t>{1, 2, 3, 4, 5, 6, 7, 10, 11, 12, 13, 14, 15, 16}));

    db::Query texts(database(), demo_queries::kTexts);
    texts.setInteger("SEQUENCIAL", 4);
    texts.execute();
    EXPECT_EQ(texts.text(0), fixture::accessKey(4));
    EXPECT_EQ(texts.text(1).rfind("<procEventoNFe>", 0), 0u);
    EXPECT_NE(texts.text(1).find("emiss\xE3o"), std::string::npos);
    texts.setInteger("SEQUENCIAL", 5);
    texts.execute();
    EXPECT_EQ(texts.text(1), " \r\n \t\r\n");

    struct Period {
        const char* from;
        const char* to;
        std::string branch;
        std::vector<std::string> rows;  // flag|key seq|tax number
    };
    const std::vector<Period> periods = {
        {"2021-02-01", "2021-03-31", "2", {"E|5|44555666000199", "S|6|11222333000181", "S|11|12345678901   "}},
        {"2020-12-25", "2020-12-25", "1", {"S|1|11222333000181"}},  // 16 is not cancelada 1
        {"2021-03-01", "2021-03-31", "0", {"S|15|11222333000181"}},
        {"2021-01-01", "2021-12-31", "", {}},   // NULL branch
        {"2021-03-31", "2021-01-01", "1", {}},  // reversed range
        {"1899-12-30", "1899-12-30", "1", {}},
    };
    db::Query period(database(), demo_queries::kPeriod);
    for (const Period& p : periods) {
        period.setText("dt1", p.from);
        period.setText("dt2", p.to);
        period.setText("filial", p.branch);
        std::vector<std::string> rows;
        for (period.execute(); !period.eof(); period.next()) {
            std::string key = period.text(1);
            int seq = 0;
            for (int s = 1; s <= 16; ++s)
                if (fixture::accessKey(s) == key) seq = s;
            rows.push_back(period.text(0) + "|" + std::to_string(seq) + "|" + period.text(3));
        }
        std::sort(rows.begin(), rows.end(), [](const std::string& a, const std::string& b) {
            return std::stoi(a.substr(2)) < std::stoi(b.substr(2));
        });
        EXPECT_EQ(rows, p.rows) << "branch '" << p.branch << "'";
    }
    // The first non-null text: an empty cancellation wins over the document.
    period.setText("dt1", "2021-02-08");
    period.setText("dt2", "2021-02-08");
    period.setText("filial", "1");
    period.execute();
    ASSERT_FALSE(period.eof());
    EXPECT_FALSE(period.isNull(2));
    EXPECT_EQ(period.text(2), "");
    period.next();
    EXPECT_TRUE(period.eof());
}

TEST_P(DbTest, RowsOneAtATime) {
    connect();
    // An empty result is at its end at once, and reads as NULL.
    db::Query none(database(), "SELECT PAI_SEQU FROM MVTO_PAI WHERE PAI_SEQU = -1");
    none.execute();
    EXPECT_TRUE(none.eof());
    EXPECT_TRUE(none.isNull(0));
    EXPECT_EQ(none.text(0), "");
    EXPECT_EQ(none.integer(0), 0);

    // execute makes the first row current, next fetches on; running it again starts over.
    db::Query q(database(), "SELECT PAI_SEQU FROM MVTO_PAI WHERE PAI_SEQU <= 3 ORDER BY 1");
    for (int run = 0; run < 2; ++run) {
        q.execute();
        for (int64_t want = 1; want <= 3; ++want) {
            ASSERT_FALSE(q.eof()) << run;
            EXPECT_EQ(q.integer(0), want) << run;
            q.next();
        }
        EXPECT_TRUE(q.eof());
        q.next();  // past the end stays there
        EXPECT_TRUE(q.eof());
    }
    EXPECT_THROW(q.integer(1), db::DbError);
    EXPECT_THROW(q.text(-1), db::DbError);
}

TEST_P(DbTest, OneSnapshotUntilCommit) {
    connect();
    db::Query q(database(), "SELECT COUNT(*) FROM MVTO_PAI");
    q.execute();
    EXPECT_EQ(q.integer(0), 15);
    EXPECT_TRUE(database().inTransaction());

    // Another program commits a row while this connection reads in its snapshot.
    fixture::runScript(client(), GetParam() == Mode::Server ? name() : file_, fixture::defaultCredentials(name()),
                       "INSERT INTO MVTO_PAI (PAI_SEQU) VALUES (99)");
    q.execute();
    EXPECT_EQ(q.integer(0), 15);  // same transaction, same snapshot

    database().commit();
    EXPECT_FALSE(database().inTransaction());
    q.execute();  // a new transaction
    EXPECT_EQ(q.integer(0), 16);
    EXPECT_TRUE(database().inTransaction());

    database().close();
    EXPECT_FALSE(database().connected());
    EXPECT_FALSE(database().inTransaction());
    EXPECT_THROW(database().transaction(), db::DbError);
}

// The page cache asked for reaches the engine that opens the file; a server
// keeps the cache it has, and the attachment opens all the same.
TEST_P(DbTest, PageCacheSizeIsPassedToTheEngine) {
    const bool embedded = GetParam() == Mode::Embedded;
    for (int pages : {75, 300}) {
        std::vector<std::string> params = kAppLogin;
        params.push_back("cache_pages=" + std::to_string(pages));
        db::Database d(client(), name(), params);
        {
            db::Query q(d, "SELECT MON$PAGE_BUFFERS FROM MON$DATABASE");
            q.execute();
            if (embedded) EXPECT_EQ(q.integer(0), pages);
            else EXPECT_GT(q.integer(0), 0);
        }
        d.close();
    }
}

TEST_P(DbTest, ConnectionErrorsCarryTheLibraryText) {
    struct Case {
        const char* what;
        std::string name;
        std::vector<std::string> params;
        const char* text;  // part of the message
        bool serverOnly;
    };
    const bool server = GetParam() == Mode::Server;
    const std::string missing = (server ? "localhost:" : "") + dir_ + "/missing.fdb";
    const std::vector<Case> cases = {
        {"empty name", "", kAppLogin, "Database name is missing", false},
        {"NUL in the name", name() + std::string(1, '\0') + "x", kAppLogin, "NUL byte", false},
        {"wrong path", missing, kAppLogin, "missing.fdb", false},
        {"wrong password",
         name(),
         {"user_name=KORVA", "password=wrong"},
         "Your user name and password are not defined",
         true},
        {"unknown user",
         name(),
         {"user_name=NOBODY_HERE", "password=x"},
         "Your user name and password are not defined",
         true},
        {"unknown parameter", name(), {"user_nam=KORVA"}, "Unknown database parameter", false},
        {"page count", name(), {"user_name=KORVA", "cache_pages=2k"}, "cache_pages is not a page count", false},
    };
    for (const Case& c : cases) {
        if (c.serverOnly && !server) continue;  // the embedded engine takes any user
        try {
            db::Database d(client(), c.name, c.params);
            ADD_FAILURE() << c.what << ": opened";
        } catch (const db::DbError& e) {
            EXPECT_NE(std::string(e.what()).find(c.text), std::string::npos) << c.what << ": " << e.what();
        }
    }
    // A statement error carries the server's text and its SQL code.
    connect();
    try {
        db::Query q(database(), "SELECT NO_SUCH_COLUMN FROM MVTO_NFE");
        ADD_FAILURE() << "bad statement prepared";
    } catch (const db::DbError& e) {
        EXPECT_NE(std::string(e.what()).find("NO_SUCH_COLUMN"), std::string::npos) << e.what();
        EXPECT_EQ(e.sqlCode(), -206);
    }
    // The connection is still usable after a failed statement.
    db::Query q(database(), "SELECT COUNT(*) FROM MVTO_NFE");
    q.execute();
    EXPECT_EQ(q.integer(0), 16);
}

INSTANTIATE_TEST_SUITE_P(Db, DbTest, testing::Values(Mode::Embedded, Mode::Server), modeName);

TEST(FbClient, MissingLibraryNamesTheFile) {
    for (const std::string file : {"libfbclient-missing.so.9", "/nonexistent/libfbclient.so.2", "libz.so.1"}) {
        try {
            db::FbClient::load(file);
            ADD_FAILURE() << file << " loaded";
        } catch (const db::DbError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "InterBase library " + file +
                          " not found in the path. Please install InterBase to use this functionality");
        }
    }
}

TEST(FbClient, EnvironmentNamesTheLibrary) {
    const char* old = std::getenv("EXPORTAR_FBCLIENT");
    std::string saved = old ? old : "";
    struct Case {
        const char* value;
        std::string want;
    };
    for (const Case& c : std::vector<Case>{{nullptr, "libfbclient.so.2"},
                                           {"", "libfbclient.so.2"},
                                           {"/opt/fb/lib/libfbclient.so", "/opt/fb/lib/libfbclient.so"}}) {
        if (c.value) setenv("EXPORTAR_FBCLIENT", c.value, 1);
        else unsetenv("EXPORTAR_FBCLIENT");
        EXPECT_EQ(db::clientLibraryName(), c.want);
    }
    if (old) setenv("EXPORTAR_FBCLIENT", saved.c_str(), 1);
    else unsetenv("EXPORTAR_FBCLIENT");
}

}  // namespace
