// The database layer against real Firebird databases, opened with the
// embedded engine (plain path) and through the server (localhost:path).
#include "db/ibdatabase.h"
#include "db/ibquery.h"
#include "demo_queries.h"
#include "platform/datetime.h"
#include "platform/regional.h"
#include "tests/support/prerequisites.h"
#include "tools/fbfixture/fixture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kAppLogin = {"user_name=KORVA", "password=##736948"};

std::shared_ptr<db::FbClient> client()
{
    static std::shared_ptr<db::FbClient> c = db::FbClient::load(db::clientLibraryName());
    return c;
}

platform::DateTime date(int y, int m, int d)
{
    platform::DateTime v = 0;
    EXPECT_TRUE(platform::tryEncodeDate(y, m, d, v));
    return v;
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
  'Jo)" "\xE3" R"(o', 'Concei)" "\xE7\xE3" R"(o', 'a' || ASCII_CHAR(13) || ASCII_CHAR(10) || 'b' || ASCII_CHAR(10) || 'c');
INSERT INTO KINDS VALUES (2, -7, -42, -9000000000, -0.05,
  '1899-12-30', '2021-01-10 00:00:00', '00:00:00',
  '', '  blanks kept  ', '');
INSERT INTO KINDS (ID) VALUES (3);
)";

enum class Mode { Embedded, Server };

std::string modeName(const testing::TestParamInfo<Mode>& i)
{
    return i.param == Mode::Embedded ? "Embedded" : "Server";
}

class DbTest : public testing::TestWithParam<Mode> {
protected:
    void SetUp() override
    {
        if (GetParam() == Mode::Server)
            REQUIRE_FIREBIRD_SERVER();
        ASSERT_TRUE(platform::setProcessLocale("pt_BR.UTF-8")) << "pt_BR.UTF-8 not installed";
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
    void TearDown() override
    {
        IBDatabase1.setDefaultTransaction(nullptr);
        if (!dir_.empty())
            fs::remove_all(dir_);
    }

    std::string name() const
    {
        return GetParam() == Mode::Server ? "localhost:" + file_ : file_;
    }
    void connect()
    {
        IBDatabase1.setClient(client());
        IBDatabase1.params() = kAppLogin;
        IBDatabase1.setDefaultTransaction(&IBTransaction1);
        IBDatabase1.close();
        IBDatabase1.setDatabaseName(name());
        IBDatabase1.open();
    }
    template <size_t N>
    void setLines(db::TIBQuery& q, const std::array<std::string_view, N>& lines)
    {
        q.sql().clear();
        for (auto l : lines)
            q.sql().add(std::string(l));
    }
    void openAll(db::TIBQuery& q)
    {
        q.open();
        q.fetchAll();
        q.first();
    }

    std::string dir_, file_;
    db::TIBDatabase IBDatabase1;
    db::TIBTransaction IBTransaction1;
    db::TIBQuery Q;
};

TEST_P(DbTest, EveryValueKindReadsAsItsText)
{
    connect();
    Q.setDatabase(&IBDatabase1);
    Q.sql().add("SELECT ID, S, N, B, M, D, TS, T, C, V, X FROM KINDS ORDER BY ID");
    openAll(Q);
    ASSERT_EQ(demo_queries::rowsOf(Q), 3);
    const std::vector<std::vector<std::string>> want = {
        {"1", "7", "42", "9000000000", "1234,5", "09/01/2021", "25/12/2020 10:05:37", "08:09:10",
         "Jo\xE3o      ", "Concei\xE7\xE3o", "a\r\nb\nc"},
        {"2", "-7", "-42", "-9000000000", "-0,05", "30/12/1899", "10/01/2021", "00:00:00",
         "          ", "  blanks kept  ", ""},
        {"3", "", "", "", "", "", "", "", "", "", ""},
    };
    for (const auto& row : want) {
        ASSERT_FALSE(Q.eof());
        for (size_t c = 0; c < row.size(); ++c)
            EXPECT_EQ(Q.field(static_cast<int>(c)).asText(demo_queries::regional()), row[c])
                << "row " << row[0] << " column " << Q.field(static_cast<int>(c)).fieldName();
        Q.next();
    }
    EXPECT_TRUE(Q.eof());

    // The regional settings are read when the value is read.
    Q.first();
    EXPECT_EQ(Q.field(6).asText(platform::formatSettingsFor("en_US.UTF-8")),
              "12/25/2020 10:05:37 AM");
}

TEST_P(DbTest, NullsReadEmptyAndZero)
{
    connect();
    Q.setDatabase(&IBDatabase1);
    Q.sql().add("SELECT S, N, B, M, D, TS, T, C, V, X FROM KINDS WHERE ID = 3");
    openAll(Q);
    ASSERT_EQ(demo_queries::rowsOf(Q), 1);
    for (int c = 0; c < Q.fieldCount(); ++c) {
        EXPECT_TRUE(Q.field(c).isNull()) << c;
        EXPECT_EQ(Q.field(c).asText(demo_queries::regional()), "") << c;
    }
    EXPECT_EQ(Q.field(1).asInteger(), 0);
    EXPECT_EQ(Q.field(5).asDateTime(), 0.0);
    // The empty text and blank CHAR of row 2 are not NULL.
    Q.close();
    Q.sql().clear();
    Q.sql().add("SELECT C, X FROM KINDS WHERE ID = 2");
    openAll(Q);
    EXPECT_FALSE(Q.field(0).isNull());
    EXPECT_FALSE(Q.field(1).isNull());
}

TEST_P(DbTest, TextBlobOverManySegmentsReadsWhole)
{
    std::string big;
    for (int i = 0; big.size() < 300 * 1024; ++i) {
        big += static_cast<char>(1 + i % 255);  // every byte value but NUL
        if (i % 997 == 0)
            big += "\r\n";
    }
    fixture::setText(client(), file_, {}, 1, "NFE_DISTRIBUICAO", big);
    connect();
    Q.setDatabase(&IBDatabase1);
    setLines(Q, demo_queries::QExportar);
    Q.paramByName("SEQUENCIAL").setInteger(1);
    openAll(Q);
    ASSERT_EQ(demo_queries::rowsOf(Q), 1);
    std::string got = Q.field(2).asText(demo_queries::regional());
    EXPECT_EQ(got.size(), big.size());
    EXPECT_TRUE(got == big);
    EXPECT_EQ(Q.field(2).asText(demo_queries::regional()), got);  // a second read gives the same text
    // The demo's 100 KB document, accents and all.
    Q.close();
    Q.paramByName("sequencial").setInteger(12);
    openAll(Q);
    std::string doc = Q.field(3).asText(demo_queries::regional());
    EXPECT_GT(doc.size(), 100u * 1024);
    EXPECT_NE(doc.find("Parafuso sextavado \xBC\" a\xE7o inox \x96 item 1</xProd>"), std::string::npos);
    EXPECT_EQ(doc.substr(doc.size() - 25), "</infNFe></NFe></nfeProc>");
}

TEST_P(DbTest, ParametersOfEveryKind)
{
    connect();
    struct Case {
        const char* what;
        const char* where;
        void (*bind)(db::TParam&);
        std::vector<std::string> ids;
    };
    const std::vector<Case> cases = {
        {"integer", "N = :P", [](db::TParam& p) { p.setInteger(42); }, {"1"}},
        {"negative integer", "B = :P", [](db::TParam& p) { p.setInteger(-9000000000LL); }, {"2"}},
        {"date sends its date part", "D = :P",
         [](db::TParam& p) { p.setDate(date(2021, 1, 9) + 0.75); }, {"1"}},
        {"day zero", "D = :P", [](db::TParam& p) { p.setDate(platform::NullDate); }, {"2"}},
        {"text converted by the server", "N = :P", [](db::TParam& p) { p.setText("42"); }, {"1"}},
        {"text to a date column", "D = :P", [](db::TParam& p) { p.setText("2021-01-09"); }, {"1"}},
        {"text bytes compared as stored", "V = :P",
         [](db::TParam& p) { p.setText("Concei\xE7\xE3o"); }, {"1"}},
        {"empty text is NULL", "N = :P OR N IS NOT DISTINCT FROM :P",
         [](db::TParam& p) { p.setText(""); }, {"3"}},
        {"unassigned is NULL", "S IS NOT DISTINCT FROM :P", [](db::TParam&) {}, {"3"}},
    };
    for (const Case& c : cases) {
        db::TIBQuery q;
        q.setDatabase(&IBDatabase1);
        q.sql().add("SELECT ID FROM KINDS");
        q.sql().add(std::string("WHERE ") + c.where + " ORDER BY ID");
        c.bind(q.paramByName("p"));
        openAll(q);
        std::vector<std::string> ids;
        for (; !q.eof(); q.next())
            ids.push_back(q.field(0).asText(demo_queries::regional()));
        EXPECT_EQ(ids, c.ids) << c.what;
    }
    db::TIBQuery q;
    q.sql().add("SELECT ID FROM KINDS WHERE ID = :a AND V <> ':not_a_param' -- :nor_this");
    EXPECT_EQ(q.paramCount(), 1u);
    EXPECT_THROW(q.paramByName("not_a_param"), db::DbError);
}

TEST_P(DbTest, WindowQueriesReadTheDemoDocuments)
{
    connect();
    db::TIBQuery IBQuery1, QExportar, IBQuery2;
    for (db::TIBQuery* q : {&IBQuery1, &QExportar, &IBQuery2})
        q->setDatabase(&IBDatabase1);
    setLines(IBQuery1, demo_queries::IBQuery1);
    setLines(QExportar, demo_queries::QExportar);
    setLines(IBQuery2, demo_queries::IBQuery2);
    const db::TField IBQuery1PAI_SEQU = IBQuery1.field(0);
    const db::TField IBQuery1DIG_DATAHORA = IBQuery1.field(1);

    IBQuery1.close();
    openAll(IBQuery1);
    // Without a key (8) or without any text (9): not exportable.
    ASSERT_EQ(demo_queries::rowsOf(IBQuery1), 14);
    std::vector<int64_t> seqs;
    std::vector<std::string> moments;
    for (; !IBQuery1.eof(); IBQuery1.next()) {
        seqs.push_back(IBQuery1PAI_SEQU.asInteger());
        moments.push_back(IBQuery1DIG_DATAHORA.asText(demo_queries::regional()));
    }
    EXPECT_EQ(seqs, (std::vector<int64_t>{1, 2, 3, 4, 5, 6, 7, 10, 11, 12, 13, 14, 15, 16}));
    EXPECT_EQ(moments[0], "25/12/2020 10:05:37");
    EXPECT_EQ(moments[1], "10/01/2021");  // midnight: the date alone
    EXPECT_EQ(moments[6], "");            // NULL moment

    QExportar.close();
    QExportar.paramByName("SEQUENCIAL").setInteger(4);
    openAll(QExportar);
    ASSERT_EQ(demo_queries::rowsOf(QExportar), 1);
    EXPECT_EQ(QExportar.field(0).asText(demo_queries::regional()), fixture::accessKey(4));
    EXPECT_EQ(QExportar.field(1).asText(demo_queries::regional()).rfind("<procEventoNFe>", 0), 0u);
    EXPECT_NE(QExportar.field(1).asText(demo_queries::regional()).find("emiss\xE3o"), std::string::npos);
    QExportar.close();
    QExportar.paramByName("SEQUENCIAL").setInteger(5);
    openAll(QExportar);
    EXPECT_EQ(QExportar.field(1).asText(demo_queries::regional()), " \r\n \t\r\n");

    struct Period {
        platform::DateTime from, to;
        std::string branch;
        std::vector<std::string> rows;  // flag|key seq|tax number
    };
    const std::vector<Period> periods = {
        {date(2021, 2, 1), date(2021, 3, 31), "2",
         {"E|5|44555666000199", "S|6|11222333000181", "S|11|12345678901   "}},
        {date(2020, 12, 25), date(2020, 12, 25), "1", {"S|1|11222333000181"}},  // 16 is not cancelada 1
        {date(2021, 3, 1), date(2021, 3, 31), "0", {"S|15|11222333000181"}},
        {date(2021, 1, 1), date(2021, 12, 31), "", {}},                      // NULL branch
        {date(2021, 3, 31), date(2021, 1, 1), "1", {}},                      // reversed range
        {platform::NullDate, platform::NullDate, "1", {}},
    };
    for (const Period& p : periods) {
        IBQuery2.close();
        IBQuery2.paramByName("dt1").setDate(p.from);
        IBQuery2.paramByName("dt2").setDate(p.to);
        IBQuery2.paramByName("filial").setText(p.branch);
        openAll(IBQuery2);
        std::vector<std::string> rows;
        for (; !IBQuery2.eof(); IBQuery2.next()) {
            std::string key = IBQuery2.field(1).asText(demo_queries::regional());
            int seq = 0;
            for (int s = 1; s <= 16; ++s)
                if (fixture::accessKey(s) == key) seq = s;
            rows.push_back(IBQuery2.field(0).asText(demo_queries::regional()) + "|" + std::to_string(seq) + "|" +
                           IBQuery2.field(3).asText(demo_queries::regional()));
        }
        std::sort(rows.begin(), rows.end(), [](const std::string& a, const std::string& b) {
            return std::stoi(a.substr(2)) < std::stoi(b.substr(2));
        });
        EXPECT_EQ(rows, p.rows) << "branch '" << p.branch << "'";
        EXPECT_EQ(demo_queries::rowsOf(IBQuery2), static_cast<int>(p.rows.size()));
    }
    // The first non-null text: an empty cancellation wins over the document.
    IBQuery2.close();
    IBQuery2.paramByName("dt1").setDate(date(2021, 2, 8));
    IBQuery2.paramByName("dt2").setDate(date(2021, 2, 8));
    IBQuery2.paramByName("filial").setText("1");
    openAll(IBQuery2);
    ASSERT_EQ(demo_queries::rowsOf(IBQuery2), 1);
    EXPECT_FALSE(IBQuery2.field(2).isNull());
    EXPECT_EQ(IBQuery2.field(2).asText(demo_queries::regional()), "");
}

TEST_P(DbTest, RowNavigationAndChangingStatements)
{
    connect();
    Q.setDatabase(&IBDatabase1);
    // An empty result is at its end at once.
    Q.sql().add("SELECT PAI_SEQU FROM MVTO_PAI WHERE PAI_SEQU = -1");
    openAll(Q);
    EXPECT_EQ(demo_queries::rowsOf(Q), 0);
    EXPECT_TRUE(Q.eof());
    EXPECT_EQ(Q.field(0).asText(demo_queries::regional()), "");

    // Kind checks: new text for every document, only the count is read.
    struct Check { int seq; const char* tipo; int count; };
    for (const Check& c : std::vector<Check>{{1, "NF", 1}, {2, "NF", 0}, {2, "NE", 1}, {13, "NF", 0}}) {
        Q.close();
        Q.sql().clear();
        Q.sql().add("SELECT PAI_SEQU FROM MVTO_PAI ");
        Q.sql().add("WHERE PAI_SEQU = " + std::to_string(c.seq));
        Q.sql().add(std::string(" AND PAI_TIPODOC = '") + c.tipo + "'");
        Q.open();
        Q.fetchAll();
        EXPECT_EQ(demo_queries::rowsOf(Q), c.count) << c.seq << c.tipo;
    }
    // Rows before fetchAll: open makes the first current, next fetches on.
    Q.close();
    Q.sql().clear();
    Q.sql().add("SELECT PAI_SEQU FROM MVTO_PAI WHERE PAI_SEQU <= 3 ORDER BY 1");
    Q.open();
    EXPECT_EQ(Q.field(0).asInteger(), 1);
    Q.next();
    Q.next();
    EXPECT_EQ(Q.field(0).asInteger(), 3);
    EXPECT_FALSE(Q.eof());
    Q.next();
    EXPECT_TRUE(Q.eof());
    EXPECT_EQ(demo_queries::rowsOf(Q), 3);
    Q.first();
    EXPECT_FALSE(Q.eof());
    EXPECT_EQ(Q.field(0).asInteger(), 1);
    EXPECT_THROW(Q.field(1).asText(demo_queries::regional()), db::DbError);
}

TEST_P(DbTest, CloseCommitsAndTheNextConnectionSeesNewRows)
{
    connect();
    Q.setDatabase(&IBDatabase1);
    Q.sql().add("SELECT COUNT(*) FROM MVTO_PAI");
    openAll(Q);
    EXPECT_EQ(Q.field(0).asInteger(), 15);
    EXPECT_TRUE(IBTransaction1.inTransaction());

    // Another program commits a row while this connection reads in its snapshot.
    fixture::runScript(client(), GetParam() == Mode::Server ? name() : file_,
                       fixture::defaultCredentials(name()),
                       "INSERT INTO MVTO_PAI (PAI_SEQU) VALUES (99)");
    Q.close();
    openAll(Q);
    EXPECT_EQ(Q.field(0).asInteger(), 15);  // same transaction, same snapshot

    IBDatabase1.close();
    EXPECT_FALSE(IBDatabase1.connected());
    EXPECT_FALSE(IBTransaction1.inTransaction());
    EXPECT_FALSE(Q.active());
    IBDatabase1.open();
    openAll(Q);
    EXPECT_EQ(Q.field(0).asInteger(), 16);
}

// The page cache asked for reaches the engine that opens the file; a server
// keeps the cache it has, and the attachment opens all the same.
TEST_P(DbTest, PageCacheSizeIsPassedToTheEngine)
{
    const bool embedded = GetParam() == Mode::Embedded;
    for (int pages : {75, 300}) {
        db::TIBDatabase d;
        db::TIBTransaction t;
        d.setClient(client());
        d.setDatabaseName(name());
        d.params() = kAppLogin;
        d.params().push_back("cache_pages=" + std::to_string(pages));
        d.setDefaultTransaction(&t);
        d.open();
        db::TIBQuery q;
        q.setDatabase(&d);
        q.sql().add("SELECT MON$PAGE_BUFFERS FROM MON$DATABASE");
        q.open();
        if (embedded)
            EXPECT_EQ(q.field(0).asInteger(), pages);
        else
            EXPECT_GT(q.field(0).asInteger(), 0);
        q.close();
        d.close();
    }
}

TEST_P(DbTest, ConnectionErrorsCarryTheLibraryText)
{
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
        {"wrong path", missing, kAppLogin, "missing.fdb", false},
        {"wrong password", name(), {"user_name=KORVA", "password=wrong"},
         "Your user name and password are not defined", true},
        {"unknown user", name(), {"user_name=NOBODY_HERE", "password=x"},
         "Your user name and password are not defined", true},
        {"unknown parameter", name(), {"user_nam=KORVA"}, "Unknown database parameter", false},
        {"page count", name(), {"user_name=KORVA", "cache_pages=2k"}, "cache_pages is not a page count", false},
    };
    for (const Case& c : cases) {
        if (c.serverOnly && !server)
            continue;  // the embedded engine takes any user
        db::TIBDatabase d;
        d.setClient(client());
        d.setDatabaseName(c.name);
        d.params() = c.params;
        try {
            d.open();
            ADD_FAILURE() << c.what << ": opened";
        } catch (const db::DbError& e) {
            EXPECT_NE(std::string(e.what()).find(c.text), std::string::npos)
                << c.what << ": " << e.what();
        }
        EXPECT_FALSE(d.connected()) << c.what;
        d.close();  // closing what never opened is harmless
    }
    // A statement error carries the server's text and its SQL code.
    connect();
    Q.setDatabase(&IBDatabase1);
    Q.sql().add("SELECT NO_SUCH_COLUMN FROM MVTO_NFE");
    try {
        Q.open();
        ADD_FAILURE() << "bad statement opened";
    } catch (const db::DbError& e) {
        EXPECT_NE(std::string(e.what()).find("NO_SUCH_COLUMN"), std::string::npos) << e.what();
        EXPECT_EQ(e.sqlCode(), -206);
    }
    // The connection is still usable after a failed statement.
    Q.sql().clear();
    Q.sql().add("SELECT COUNT(*) FROM MVTO_NFE");
    openAll(Q);
    EXPECT_EQ(Q.field(0).asInteger(), 16);
}

TEST_P(DbTest, ObjectsMayBeDestroyedInAnyOrder)
{
    // The window's members may be declared in any order; a connection that
    // goes first still commits and leaves the others unlinked.
    for (int order = 0; order < 2; ++order) {
        auto query = std::make_unique<db::TIBQuery>();
        auto transaction = std::make_unique<db::TIBTransaction>();
        auto database = std::make_unique<db::TIBDatabase>();
        database->setClient(client());
        database->params() = kAppLogin;
        database->setDatabaseName(name());
        database->setDefaultTransaction(transaction.get());
        query->setDatabase(database.get());
        query->sql().add("SELECT NFE_XML FROM MVTO_NFE WHERE PAI_SEQU = 1");
        database->open();
        query->open();
        EXPECT_FALSE(query->field(0).asText(demo_queries::regional()).empty());
        if (order == 0) {
            database.reset();
            EXPECT_FALSE(query->active());
            EXPECT_THROW(query->open(), db::DbError);  // no database any more
            transaction.reset();
            query.reset();
        } else {
            query.reset();
            transaction.reset();
            EXPECT_TRUE(database->connected());
            database.reset();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Db, DbTest, testing::Values(Mode::Embedded, Mode::Server), modeName);

TEST(FbClient, MissingLibraryNamesTheFile)
{
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

TEST(FbClient, EnvironmentNamesTheLibrary)
{
    const char* old = std::getenv("EXPORTAR_FBCLIENT");
    std::string saved = old ? old : "";
    struct Case { const char* value; std::string want; };
    for (const Case& c : std::vector<Case>{{nullptr, "libfbclient.so.2"},
                                           {"", "libfbclient.so.2"},
                                           {"/opt/fb/lib/libfbclient.so", "/opt/fb/lib/libfbclient.so"}}) {
        if (c.value) setenv("EXPORTAR_FBCLIENT", c.value, 1); else unsetenv("EXPORTAR_FBCLIENT");
        EXPECT_EQ(db::clientLibraryName(), c.want);
    }
    if (old) setenv("EXPORTAR_FBCLIENT", saved.c_str(), 1); else unsetenv("EXPORTAR_FBCLIENT");
}

}  // namespace
