// Where an incremental run starts reading, from the stored stamp, the
// database's identity and the run's snapshot: no database needed.
#include "export/core/run.h"

#include <gtest/gtest.h>

namespace {

using exports::Moment;

TEST(StartPoint, TableOfStoredStampsMarksAndDatabases) {
    const Moment now{2026, 12, 10, 12, 0, 0};
    const Moment past{2026, 1, 2, 3, 4, 5};
    const Moment ahead{9999, 12, 31, 23, 59, 59};
    struct Case {
        const char* name;
        Moment stamp;
        std::optional<long long> mark;
        std::string storedIdentity;
        long long nextTransaction;
        Moment after;
        std::optional<long long> expectedMark;
        bool everything;
        const char* noteHas;  // empty: no note
    };
    const Case cases[] = {
        {"first run: no mark", past, std::nullopt, "", 100, past, std::nullopt, false, ""},
        {"same database", past, 42, "db", 100, past, 42, false, ""},
        {"mark equal to the next transaction", past, 100, "db", 100, past, 100, false, ""},
        {"restored: mark above the next transaction", past, 101, "db", 100, past, std::nullopt, true,
         "marca de transação descartada"},
        {"another database", past, 42, "other", 100, past, std::nullopt, true, "marca de transação descartada"},
        {"stamp ahead of the server, mark kept", ahead, 42, "db", 100, now, 42, false, "relógio do servidor"},
        {"stamp ahead of the server, no mark", ahead, std::nullopt, "", 100, now, std::nullopt, true,
         "todos os documentos relidos"},
        {"stamp exactly now", now, 42, "db", 100, now, 42, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        exports::StampRecord stored;
        stored.moment = c.stamp;
        stored.mark = c.mark;
        stored.databaseIdentity = c.storedIdentity;
        const exports::StartPoint p = exports::startPoint(stored, {c.nextTransaction, "db"}, {42, now});
        EXPECT_EQ(p.selection.after, c.after);
        EXPECT_EQ(p.selection.mark, c.expectedMark);
        EXPECT_EQ(p.selection.everything, c.everything);
        if (*c.noteHas) EXPECT_NE(p.note.find(c.noteHas), std::string::npos) << p.note;
        else EXPECT_EQ(p.note, "");
    }
}

}  // namespace
