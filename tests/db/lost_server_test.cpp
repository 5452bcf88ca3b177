// The database layer while its Firebird server dies: a server of the test's
// own (own port, own security database and lock folder) is killed by its PID
// in the middle of a run; the run must end with an error, and every query and
// the connection must then close and go away without touching freed memory. ctest also runs
// this program under valgrind, which is where such faults show.
#include "db/database.h"
#include "demo_queries.h"
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

std::shared_ptr<db::FbClient> client() {
    static std::shared_ptr<db::FbClient> c = db::FbClient::load(db::clientLibraryName());
    return c;
}

bool portAnswers(int port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

int freePort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (s >= 0) close(s);
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
    std::string start() {
        char tmpl[] = "/tmp/fbown.XXXXXX";
        if (!mkdtemp(tmpl)) return "no temporary folder";
        dir_ = tmpl;
        fs::create_directory(dir_ + "/lock");
        port_ = freePort();
        if (!port_) return "no free port";
        std::ofstream(dir_ + "/firebird.conf") << "RemoteServicePort = " << port_ << "\n"
                                               << "RemoteBindAddress = 127.0.0.1\n"
                                               << "SecurityDatabase = " << dir_ << "/security3.fdb\n"
                                               << "UdfAccess = None\n";
        // The users live in a security database of our own, made with the
        // embedded engine under this configuration.
        std::ofstream(dir_ + "/users.sql") << "create database '" << dir_ << "/security3.fdb' user SYSDBA;\n"
                                           << "create user SYSDBA password '" << kPassword << "';\n"
                                           << "commit;\n";
        const std::string isql = environment() + " " + kIsql + " -q -i " + dir_ + "/users.sql > " + dir_ +
                                 "/users.log 2>&1";
        if (std::system(isql.c_str()) != 0)
            return "could not create the security database (see " + dir_ + "/users.log)";

        // The environment is made before the fork: the client library's
        // threads may hold the allocator's lock in the child.
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "FIREBIRD", 8) != 0) env.emplace_back(*e);
        env.push_back("FIREBIRD=" + dir_);
        env.push_back("FIREBIRD_LOCK=" + dir_ + "/lock");
        env.push_back("FIREBIRD_TMP=" + dir_);
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        pid_ = fork();
        if (pid_ < 0) return "fork failed";
        if (pid_ == 0) {
            execle(kServerBinary, kServerBinary, static_cast<char*>(nullptr), envp.data());
            _exit(127);
        }
        for (int i = 0; i < 100; ++i) {
            if (portAnswers(port_)) return {};
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
    void kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }

    ~OwnServer() {
        kill();
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    std::string database(const std::string& file) const {
        return "localhost/" + std::to_string(port_) + ":" + dir_ + "/" + file;
    }

private:
    std::string environment() const {
        return "FIREBIRD=" + dir_ + " FIREBIRD_LOCK=" + dir_ + "/lock FIREBIRD_TMP=" + dir_;
    }

    std::string dir_;
    int port_ = 0;
    pid_t pid_ = -1;
};

const std::vector<std::string> kLogin = {"user_name=SYSDBA", std::string("password=") + kPassword};

constexpr int kDocuments = 600;
constexpr int kKillAfter = 150;

class LostServer : public testing::Test {
protected:
    void SetUp() override {
        REQUIRE_PREREQUISITE(OwnServer::installed(), kServerBinary << " is not installed (firebird3.0-server)");
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
    std::string runUntilError(const std::function<void(int)>& step) {
        for (int row = 0; row < kDocuments + 1; ++row) {
            if (row == kKillAfter) server_.kill();
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

    OwnServer server_;
    std::string name_;
};

// The rows stream (one held at a time) while a second statement reads each
// document's text; the server dies under them. The queries, then the
// connection, go as a run's source goes.
TEST_F(LostServer, StreamingRowsEndsWithAnErrorAndCleansUp) {
    struct Run {
        db::Database database;
        db::Query rows, texts;
        explicit Run(const std::string& name)
            : database(client(), name, kLogin), rows(database, demo_queries::kDocuments),
              texts(database, demo_queries::kTexts) {}
    };
    auto run = std::make_unique<Run>(name_);
    run->rows.execute();
    const std::string error = runUntilError([&](int) {
        run->texts.setInteger("SEQUENCIAL", run->rows.integer(0));
        run->texts.execute();
        EXPECT_FALSE(run->texts.text(3).empty());
        run->rows.next();
        ASSERT_FALSE(run->rows.eof());
    });
    EXPECT_FALSE(error.empty());
    run.reset();  // the statements and the connection go while they still name the dead server
}

// A statement made anew for every document, each with an open cursor and a
// blob; then the next run tries again and fails cleanly.
TEST_F(LostServer, PerDocumentQueriesEndWithAnErrorAndTheNextRunFailsCleanly) {
    auto database = std::make_unique<db::Database>(client(), name_, kLogin);
    auto rows = std::make_unique<db::Query>(*database, demo_queries::kDocuments);
    rows->execute();
    const std::string error = runUntilError([&](int) {
        const long long seq = rows->integer(0);
        db::Query kind(*database, "select a.pai_sequ from mvto_pai a where a.pai_sequ = " + std::to_string(seq));
        kind.execute();
        db::Query texts(*database, demo_queries::kTexts);
        texts.setInteger("SEQUENCIAL", seq);
        texts.execute();
        EXPECT_FALSE(texts.text(3).empty());
        rows->next();
    });
    EXPECT_FALSE(error.empty());
    rows.reset();
    try {
        database->close();
    } catch (const db::DbError&) {
    }
    EXPECT_FALSE(database->connected());
    EXPECT_THROW(database->transaction(), db::DbError);
    database.reset();
    EXPECT_THROW(db::Database(client(), name_, kLogin), db::DbError);
}

// Queries that go before their connection is closed: each drops its
// statement on the dead connection, and the connection's close afterwards
// must not touch what they left behind.
TEST_F(LostServer, QueriesDestroyedBeforeTheConnectionCloses) {
    db::Database database(client(), name_, kLogin);
    auto rows = std::make_unique<db::Query>(database, demo_queries::kDocuments);
    auto texts = std::make_unique<db::Query>(database, demo_queries::kTexts);
    rows->execute();
    const std::string error = runUntilError([&](int) {
        texts->setInteger("SEQUENCIAL", rows->integer(0));
        texts->execute();
        EXPECT_FALSE(texts->text(3).empty());
        rows->next();
    });
    EXPECT_FALSE(error.empty());
    texts.reset();
    rows.reset();
    EXPECT_THROW(database.close(), db::DbError);
    EXPECT_FALSE(database.connected());
}

}  // namespace
