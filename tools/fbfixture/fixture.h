#pragma once
// Test and demo databases: the three tables the exports read, filled with
// documents that exercise every value kind the exports meet.

#include "db/fbclient.h"

#include <memory>
#include <string>
#include <vector>

namespace fixture {

struct Schema {
    enum class Texts { Blob, Varchar, Char } texts = Texts::Blob;  // the three NFE texts
    bool charKey = false;                                          // NFE_CHAVEACESSO as CHAR(44) instead of VARCHAR(44)
    int entSaiWidth = 1;                                           // PAI_ENTSAI CHAR(n): wider keeps "E" from matching
    bool textBranch = false;                                       // PAI_FILIAL as VARCHAR(10) instead of INTEGER
};

struct Credentials {
    std::string user = "SYSDBA";
    std::string password = "masterkey";  // embedded: any password goes
};

// Credentials for `path`: SYSDBA with the server's password (ISC_PASSWORD,
// else /etc/firebird/3.0/SYSDBA.password) when the path names a host.
Credentials defaultCredentials(const std::string& path);

// Creates an empty database (page size 8192, character set NONE). Fails when
// the file exists.
void createDatabase(const std::shared_ptr<db::FbClient>& client, const std::string& path, const Credentials& who);
// Creates MVTO_PAI, MVTO_NFE and mvto_veiculos.
void createSchema(const std::shared_ptr<db::FbClient>& client, const std::string& path, const Credentials& who,
                  const Schema& schema);
// The hand-made documents: every case the exports must handle (see demo.cpp).
void fillDemo(const std::shared_ptr<db::FbClient>& client, const std::string& path, const Credentials& who,
              const Schema& schema);
// `count` generated documents of about `size` bytes each, numbered from `first`.
void fillGenerated(const std::shared_ptr<db::FbClient>& client, const std::string& path, const Credentials& who,
                   int first, int count, size_t size);
// Runs each statement of a script (split at ';' outside quotes and comments),
// committing after each one.
void runScript(const std::shared_ptr<db::FbClient>& client, const std::string& path, const Credentials& who,
               const std::string& script);
std::vector<std::string> splitStatements(const std::string& script);
// Sets one text column of MVTO_NFE for document `seq` (NULL when `isNull`).
void setText(const std::shared_ptr<db::FbClient>& client, const std::string& path, const Credentials& who, int seq,
             const std::string& column, const std::string& bytes, bool isNull = false);

// A 44-digit access key for document `seq`.
std::string accessKey(int seq);

}  // namespace fixture
