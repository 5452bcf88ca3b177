#pragma once
// Move-only owners of the client library's handles. Each releases its handle
// on destruction, ignoring errors there (a lost connection must not turn a
// clean-up into a crash); the explicit release calls report errors.

#include "db/fbclient.h"

#include <memory>
#include <string>
#include <utility>

namespace db::detail {

template <typename H>
class Handle {
public:
    Handle() = default;
    explicit Handle(std::shared_ptr<FbClient> client) : client_(std::move(client)) {}
    Handle(Handle&& o) noexcept : client_(std::move(o.client_)), h_(std::exchange(o.h_, 0)) {}
    Handle& operator=(Handle&& o) noexcept {
        std::swap(client_, o.client_);
        std::swap(h_, o.h_);
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    H* ptr() { return &h_; }
    explicit operator bool() const { return h_ != 0; }
    FbClient& client() const { return *client_; }
    const std::shared_ptr<FbClient>& clientPtr() const { return client_; }

protected:
    std::shared_ptr<FbClient> client_;
    H h_ = 0;
};

class Attachment : public Handle<isc_db_handle> {
public:
    using Handle::Handle;
    Attachment(Attachment&&) noexcept = default;
    Attachment& operator=(Attachment&& o) noexcept {
        if (this != &o) {
            drop();
            Handle::operator=(std::move(o));
        }
        return *this;
    }
    ~Attachment() { drop(); }

    void attach(const std::string& name, const std::string& dpb) {
        ISC_STATUS_ARRAY st{};
        client_->attach_database(st, 0, name.c_str(), &h_, static_cast<short>(dpb.size()), dpb.data());
        if (st[0] == 1 && st[1]) {
            h_ = 0;
            client_->check(st);
        }
    }
    // Detaches; the handle is gone afterwards even when the server reports an error.
    void detach() {
        if (!h_) return;
        ISC_STATUS_ARRAY st{};
        client_->detach_database(st, &h_);
        h_ = 0;
        client_->check(st);
    }

private:
    void drop() noexcept {
        if (h_ && client_) {
            ISC_STATUS_ARRAY st{};
            client_->detach_database(st, &h_);
            h_ = 0;
        }
    }
};

class Transaction : public Handle<isc_tr_handle> {
public:
    using Handle::Handle;
    Transaction(Transaction&&) noexcept = default;
    Transaction& operator=(Transaction&& o) noexcept {
        if (this != &o) {
            drop();
            Handle::operator=(std::move(o));
        }
        return *this;
    }
    ~Transaction() { drop(); }

    // Starts with an empty options block: the server's defaults apply.
    void start(isc_db_handle* db) {
        ISC_STATUS_ARRAY st{};
        // The library's transaction existence block: database, options length, options.
        struct Teb {
            isc_db_handle* db;
            int tpbLength;
            const char* tpb;
        } teb{db, 0, nullptr};
        client_->start_multiple(st, &h_, 1, &teb);
        if (st[0] == 1 && st[1]) {
            h_ = 0;
            client_->check(st);
        }
    }
    void commit() {
        ISC_STATUS_ARRAY st{};
        client_->commit_transaction(st, &h_);
        client_->check(st);  // on failure the handle stays for a rollback
        h_ = 0;
    }
    void rollback() noexcept { drop(); }

private:
    void drop() noexcept {
        if (h_ && client_) {
            ISC_STATUS_ARRAY st{};
            client_->rollback_transaction(st, &h_);
            h_ = 0;
        }
    }
};

class Statement : public Handle<isc_stmt_handle> {
public:
    using Handle::Handle;
    Statement(Statement&&) noexcept = default;
    Statement& operator=(Statement&& o) noexcept {
        if (this != &o) {
            drop();
            Handle::operator=(std::move(o));
        }
        return *this;
    }
    ~Statement() { drop(); }

    // Not alloc_statement2: that one keeps the address of our handle and
    // clears it when the connection detaches. A statement whose drop failed
    // (server gone) would then be cleared inside memory already freed. Every
    // statement is dropped before its connection detaches; one the library
    // could not drop goes with the connection.
    void allocate(isc_db_handle* db) {
        ISC_STATUS_ARRAY st{};
        client_->dsql_allocate_statement(st, db, &h_);
        if (st[0] == 1 && st[1]) {
            h_ = 0;
            client_->check(st);
        }
    }
    // Closes an open cursor; an error (no cursor open) is of no interest.
    void closeCursor() noexcept {
        if (!h_) return;
        ISC_STATUS_ARRAY st{};
        client_->dsql_free_statement(st, &h_, DSQL_close);
    }

private:
    void drop() noexcept {
        if (h_ && client_) {
            ISC_STATUS_ARRAY st{};
            client_->dsql_free_statement(st, &h_, DSQL_drop);
            h_ = 0;
        }
    }
};

class Blob : public Handle<isc_blob_handle> {
public:
    using Handle::Handle;
    Blob(Blob&&) noexcept = default;
    Blob& operator=(Blob&& o) noexcept {
        if (this != &o) {
            drop();
            Handle::operator=(std::move(o));
        }
        return *this;
    }
    ~Blob() { drop(); }

    void close() {
        if (!h_) return;
        ISC_STATUS_ARRAY st{};
        client_->close_blob(st, &h_);
        h_ = 0;
        client_->check(st);
    }

private:
    void drop() noexcept {
        if (h_ && client_) {
            ISC_STATUS_ARRAY st{};
            client_->close_blob(st, &h_);
            h_ = 0;
        }
    }
};

// Reads a whole blob, segment by segment (any size).
std::string readBlob(const std::shared_ptr<FbClient>& client, isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD id);
// Creates a blob holding the given bytes and returns its id.
ISC_QUAD writeBlob(const std::shared_ptr<FbClient>& client, isc_db_handle* db, isc_tr_handle* tr,
                   const std::string& bytes);

}  // namespace db::detail
