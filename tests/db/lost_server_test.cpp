// The database layer while its Firebird server dies: a server of the test's
// own (own port, own security database and lock folder) is killed by its PID
// in the middle of a run; the run must end with an error, and every object
// must then close and go away without touching freed memory. ctest also runs
// this program under valgrind, which is where such faults show.
#include "db/ibdatabase.h"
#include "db/ibquery.h"
#include "demo_queries.h"
#include "platform/regional.h"
#include "tools/fbfixture/fixture.h"

#include "tests/support/prerequisites.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* kServerBinary = "/usr/sbin/firebird";
constexpr const char* kIsql = "isql-fb";
constexpr const char* kPassword = "masterkey";

std::shared_ptr<db::FbClient> client()
{
    static std::shared_ptr<db::FbClient> c = db::FbClient::load(db::clientLibraryName());
    return c;
}

bool portAnswers(int port)
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

int freePort()
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (s >= 0)
            close(s);
        return 0;
    }
    close(s);
    return ntohs(a.sin_port);
}

// A Firebird server process of our own. Its configuration root, security
// database, lock folder and databases all live in one temporary folder, so
// it shares nothing with the system's server.
class OwnServer {
public:
    // Whether the server binary is there (firebird3.0-server).
    static bool installed() { return access(kServerBinary, X_OK) == 0; }

    // Empty when the server runs; otherwise why it could not be started.
    std::string start()
    {
        char tmpl[] = "/tmp/fbown.XXXXXX";
        if (!mkdtemp(tmpl))
            return "no temporary folder";
        dir_ = tmpl;
        fs::create_directory(dir_ + "/lock");
        port_ = freePort();
        if (!port_)
            return "no free port";
        std::ofstream(dir_ + "/firebird.conf")
            << "RemoteServicePort = " << port_ << "\n"
            << "RemoteBindAddress = 127.0.0.1\n"
            << "SecurityDatabase = " << dir_ << "/security3.fdb\n"
            << "UdfAccess = None\n";
        // The users live in a security database of our own, made with the
        // embedded engine under this configuration.
        std::ofstream(dir_ + "/users.sql")
            << "create database '" << dir_ << "/security3.fdb' user SYSDBA;\n"
            << "create user SYSDBA password '" << kPassword << "';\n"
            << "commit;\n";
        const std::string isql = environment() + " " + kIsql + " -q -i " + dir_ + "/users.sql > " +
                                 dir_ + "/users.log 2>&1";
        if (std::system(isql.c_str()) != 0)
            return "could not create the security database (see " + dir_ + "/users.log)";

        // The environment is made before the fork: the client library's
        // threads may hold the allocator's lock in the child.
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "FIREBIRD", 8) != 0)
                env.emplace_back(*e);
        env.push_back("FIREBIRD=" + dir_);
        env.push_back("FIREBIRD_LOCK=" + dir_ + "/lock");
        env.push_back("FIREBIRD_TMP=" + dir_);
        std::vector<char*> envp;
        for (std::string& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        pid_ = fork();
        if (pid_ < 0)
            return "fork failed";
        if (pid_ == 0) {
            execle(kServerBinary, kServerBinary, static_cast<char*>(nullptr), envp.data());
            _exit(127);
        }
        for (int i = 0; i < 100; ++i) {
            if (portAnswers(port_))
                return {};
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return "the server ended at once";
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return "the server did not answer on port " + std::to_string(port_);
    }

    // Ends the server the hard way, as a crash or an administrator would.
    void kill()
    {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }

    ~OwnServer()
    {
        kill();
        if (!dir_.empty())
            fs::remove_all(dir_);
    }

    std::string database(const std::string& file) const
    {
        return "localhost/" + std::to_string(port_) + ":" + dir_ + "/" + file;
    }

private:
    std::string environment() const
    {
        return "FIREBIRD=" + dir_ + " FIREBIRD_LOCK=" + dir_ + "/lock FIREBIRD_TMP=" + dir_;
    }

    std::string dir_;
    int port_ = 0;
    pid_t pid_ = -1;
};

template <size_t N>
void setLines(db::TIBQuery& q, const std::array<std::string_view, N>& lines)
{
    q.close();
    q.sql().clear();
    for (auto line : lines)
        q.sql().add(std::string(line));
}

// The window's objects, declared in the window's order so that they are
// destroyed in the window's order too.
struct WindowObjects {
    db::TIBDatabase IBDatabase1;
    db::TIBTransaction IBTransaction1;
    db::TIBQuery IBQuery1;
    db::TIBQuery QExportar;
    db::TIBQuery IBQuery2;
    db::TIBQuery IBQuery3;

    explicit WindowObjects(const std::string& name)
    {
        IBDatabase1.setClient(client());
        IBDatabase1.params() = {"user_name=SYSDBA", std::string("password=") + kPassword};
        IBDatabase1.setDefaultTransaction(&IBTransaction1);
        IBTransaction1.setDefaultDatabase(&IBDatabase1);
        for (db::TIBQuery* q : {&IBQuery1, &QExportar, &IBQuery2, &IBQuery3}) {
            q->setDatabase(&IBDatabase1);
            q->setTransaction(&IBTransaction1);
        }
        setLines(IBQuery1, demo_queries::IBQuery1);
        setLines(QExportar, demo_queries::QExportar);
        setLines(IBQuery2, demo_queries::IBQuery2);
        IBDatabase1.setDatabaseName(name);
    }

    // The window's end: close (commit, detach), then the members go.
    ~WindowObjects()
    {
        try {
            IBDatabase1.close();
        } catch (const db::DbError&) {
        }
    }
};

constexpr int kDocuments = 600;
constexpr int kKillAfter = 150;

class LostServer : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(platform::setProcessLocale("pt_BR.UTF-8")) << "pt_BR.UTF-8 not installed";
        REQUIRE_PREREQUISITE(OwnServer::installed(),
                             kServerBinary << " is not installed (firebird3.0-server)");
        const std::string why = server_.start();
        ASSERT_TRUE(why.empty()) << "could not start a Firebird server of our own: " << why;
        name_ = server_.database("lost.fdb");
        fixture::Credentials sysdba{"SYSDBA", kPassword};
        fixture::createDatabase(client(), name_, sysdba);
        fixture::createSchema(client(), name_, sysdba, fixture::Schema{});
        fixture::fillGenerated(client(), name_, sysdba, 1, kDocuments, 3000);
    }

    // Runs `step` for row after row until it throws; the server is killed
    // after kKillAfter rows. Returns the error's text.
    std::string runUntilError(const std::function<void(int)>& step)
    {
        for (int row = 0; row < kDocuments + 1; ++row) {
            if (row == kKillAfter)
                server_.kill();
            try {
                step(row);
            } catch (const db::DbError& e) {
                EXPECT_GE(row, kKillAfter) << "failed before the server died: " << e.what();
                EXPECT_NE(std::string(e.what()).find("connection"), std::string::npos) << e.what();
                return e.what();
            }
        }
        ADD_FAILURE() << "the run went on without its server";
        return {};
    }

    // What the next export does with a dead server: close, then open again.
    static void nextExportFails(WindowObjects& w)
    {
        try {
            w.IBDatabase1.close();
        } catch (const db::DbError&) {
        }
        EXPECT_FALSE(w.IBDatabase1.connected());
        EXPECT_THROW(w.IBDatabase1.open(), db::DbError);
        EXPECT_FALSE(w.IBDatabase1.connected());
    }

    OwnServer server_;
    std::string name_;
};

// The row query streams its rows (no fetch-all) and reads each document's
// text; the server dies under it.
TEST_F(LostServer, StreamingRowsEndsWithAnErrorAndCleansUp)
{
    auto w = std::make_unique<WindowObjects>(name_);
    w->IBDatabase1.open();
    w->IBQuery1.open();
    const std::string error = runUntilError([&](int) {
        const long long seq = w->IBQuery1.field(0).asInteger();
        w->QExportar.close();
        w->QExportar.paramByName("SEQUENCIAL").setInteger(seq);
        w->QExportar.open();
        EXPECT_FALSE(w->QExportar.field(3).asText(demo_queries::regional()).empty());
        w->IBQuery1.next();
        ASSERT_FALSE(w->IBQuery1.eof());
    });
    EXPECT_FALSE(error.empty());
    w.reset();  // the window goes while the statements still name the dead connection
}

// As the exports run today: every row fetched first, then one text query per
// document, each with an open cursor and a blob, and the kind check's query
// prepared anew; then the next export tries again before the window goes.
TEST_F(LostServer, PerDocumentQueriesEndWithAnErrorAndTheNextRunFailsCleanly)
{
    auto w = std::make_unique<WindowObjects>(name_);
    w->IBDatabase1.open();
    w->IBQuery1.open();
    w->IBQuery1.fetchAll();
    ASSERT_EQ(demo_queries::rowsOf(w->IBQuery1), kDocuments);
    w->IBQuery1.first();
    const std::string error = runUntilError([&](int) {
        const long long seq = w->IBQuery1.field(0).asInteger();
        w->IBQuery3.close();
        w->IBQuery3.sql().clear();
        w->IBQuery3.sql().add("select a.pai_sequ from mvto_pai a where a.pai_sequ = " +
                              std::to_string(seq));
        w->IBQuery3.open();
        w->IBQuery3.fetchAll();
        w->QExportar.close();
        w->QExportar.paramByName("SEQUENCIAL").setInteger(seq);
        w->QExportar.open();
        w->QExportar.fetchAll();
        EXPECT_FALSE(w->QExportar.field(3).asText(demo_queries::regional()).empty());
        w->IBQuery1.next();
    });
    EXPECT_FALSE(error.empty());
    nextExportFails(*w);
    w.reset();
}

// Queries that go before their connection is closed, as a function's own
// query does: each drops its statement on the dead connection, and the
// connection's close afterwards must not touch what they left behind.
TEST_F(LostServer, QueriesDestroyedBeforeTheConnectionCloses)
{
    db::TIBDatabase database;
    db::TIBTransaction transaction;
    database.setClient(client());
    database.params() = {"user_name=SYSDBA", std::string("password=") + kPassword};
    database.setDefaultTransaction(&transaction);
    database.setDatabaseName(name_);
    database.open();
    auto rows = std::make_unique<db::TIBQuery>();
    auto texts = std::make_unique<db::TIBQuery>();
    rows->setDatabase(&database);
    texts->setDatabase(&database);
    setLines(*rows, demo_queries::IBQuery1);
    setLines(*texts, demo_queries::QExportar);
    rows->open();
    const std::string error = runUntilError([&](int) {
        texts->close();
        texts->paramByName("SEQUENCIAL").setInteger(rows->field(0).asInteger());
        texts->open();
        EXPECT_FALSE(texts->field(3).asText(demo_queries::regional()).empty());
        rows->next();
    });
    EXPECT_FALSE(error.empty());
    texts.reset();
    rows.reset();
    EXPECT_THROW(database.close(), db::DbError);
    EXPECT_FALSE(database.connected());
}

}  // namespace
