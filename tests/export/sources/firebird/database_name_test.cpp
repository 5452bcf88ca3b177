// Which engine a database name goes through: no database needed.
#include "export/sources/firebird/statements.h"

#include <gtest/gtest.h>

namespace {

TEST(DatabaseName, ServerOrEmbeddedEngine) {
    const std::pair<const char*, bool> cases[] = {
        {"/srv/erp/DADOS.FDB", false},        {"DADOS.FDB", false},          {"dados", false},
        {"/srv/a:b/DADOS.FDB", false},        {"C:\\ERP\\DADOS.FDB", false}, {"localhost:/srv/DADOS.FDB", true},
        {"server/3051:/srv/DADOS.FDB", true}, {"10.0.0.5:dados", true},      {"inet://server/dados", true},
    };
    for (const auto& [name, server] : cases) EXPECT_EQ(exports::goesThroughServer(name), server) << name;
}

}  // namespace
