#pragma once
// Connection and transaction objects as the main window owns them
// (IBDatabase1, IBTransaction1). They link to each other and to the queries
// by plain pointers; every object unlinks itself when destroyed, so the
// members may be destroyed in any order.

#include "db/fbclient.h"
#include "db/handles.h"

#include <memory>
#include <string>
#include <vector>

namespace db {

class TIBTransaction;
class TIBQuery;

class TIBDatabase {
public:
    TIBDatabase() = default;
    ~TIBDatabase();
    TIBDatabase(const TIBDatabase&) = delete;
    TIBDatabase& operator=(const TIBDatabase&) = delete;

    // The client library (loading it is the window's first step; see
    // FbClient::load). Without one, open() fails.
    void setClient(std::shared_ptr<FbClient> client) { client_ = std::move(client); }
    const std::shared_ptr<FbClient>& client() const { return client_; }

    // Passed to the client library unchanged: a plain path opens the file with
    // the embedded engine, "host:path" goes through a server. Only while closed.
    const std::string& databaseName() const { return name_; }
    void setDatabaseName(const std::string& name);

    // Lines "name=value": user_name, password, lc_ctype, sql_role_name,
    // cache_pages (the page cache of an engine in this process, when this
    // attachment is the one that opens the file).
    std::vector<std::string>& params() { return params_; }
    const std::vector<std::string>& params() const { return params_; }

    TIBTransaction* defaultTransaction() const { return defaultTransaction_; }
    void setDefaultTransaction(TIBTransaction* t);

    // Attaches. An empty name fails before anything reaches the library.
    void open();
    // Commits the transactions on this connection, then detaches. Whatever
    // fails, the object ends closed, so the next open() starts afresh; the
    // first error is then rethrown.
    void close();
    bool connected() const { return static_cast<bool>(attachment_); }

    // SQL dialect of the attached database (3 for current databases).
    unsigned short sqlDialect() const { return dialect_; }

    // Internal: the handle for transactions and statements.
    isc_db_handle* handle() { return attachment_.ptr(); }
    FbClient& requireClient() const;

private:
    friend class TIBTransaction;
    friend class TIBQuery;
    std::string buildDpb() const;

    std::shared_ptr<FbClient> client_;
    std::string name_;
    std::vector<std::string> params_;
    TIBTransaction* defaultTransaction_ = nullptr;
    std::vector<TIBTransaction*> transactions_;
    std::vector<TIBQuery*> queries_;
    detail::Attachment attachment_;
    unsigned short dialect_ = 3;
};

// A transaction with the server's default options, started on demand by the
// first query that opens. Ending it commits (also when the connection closes
// and when the object is destroyed).
class TIBTransaction {
public:
    TIBTransaction() = default;
    ~TIBTransaction();
    TIBTransaction(const TIBTransaction&) = delete;
    TIBTransaction& operator=(const TIBTransaction&) = delete;

    TIBDatabase* defaultDatabase() const { return database_; }
    void setDefaultDatabase(TIBDatabase* db);

    bool inTransaction() const { return static_cast<bool>(handle_); }
    void startTransaction();
    // Closes the queries that read in this transaction, then commits.
    void commit();
    // Closes the queries, then rolls back (errors ignored).
    void rollback() noexcept;

    isc_tr_handle* handle() { return handle_.ptr(); }

private:
    friend class TIBDatabase;
    friend class TIBQuery;
    void closeQueries() noexcept;

    TIBDatabase* database_ = nullptr;
    std::vector<TIBQuery*> queries_;
    detail::Transaction handle_;
};

}  // namespace db
