#pragma once
// What the Firebird source takes besides the settings: the client library
// already loaded by the caller, and the ERP's own login.

#include "export/core/job.h"

#include <memory>
#include <string>

namespace db {
class FbClient;
}

namespace exports {

// The ERP's own login; embedded databases accept any password.
struct Credentials {
    std::string user = "KORVA";
    std::string password = "##736948";
};

struct FirebirdOptions : SourceOptions {
    Credentials credentials;
    // The loaded client library; loaded on demand when empty.
    std::shared_ptr<db::FbClient> client;
};

// The options for a job: `client` (may be empty) with the ERP's login or `credentials`.
std::shared_ptr<const SourceOptions> firebirdOptions(std::shared_ptr<db::FbClient> client,
                                                     Credentials credentials = {});
// The job's Firebird options, or the defaults when it has none.
const FirebirdOptions& firebirdOptionsOf(const ConnectionJob& job);

// Makes the database the source of every run (export/adapters.cpp).
void registerFirebirdSource();

}  // namespace exports
