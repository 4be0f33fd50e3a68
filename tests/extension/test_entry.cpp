// The entry, the extension record, its versions and texts and its tables, refusals included.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "fault_sweep.h"
#include "host_fixture.h"
#include "ombrix/extension.h"

namespace {

class EntryTest : public HostTest {};

TEST_F(EntryTest, RecordHoldsHandleJournalVersionsAndTablesAndTheVersionTextsAreSet) {
    uint64_t v[3] = {99, 99, 99};
    for (bool viaVersion : {true, false}) {
        Exported_QVHandle = nullptr;
        EXPECT_EQ(viaVersion ? qvextver(host, &v[0], &v[1]) : qvextent(host), 0u);
        EXPECT_EQ(Exported_QVHandle, host);
    }
    EXPECT_TRUE(v[0] == 7 && v[1] == 1) << "the host interface version";
    QVWord *journal = qvhostJournalCreate(host);
    for (QVWord *given : {journal, static_cast<QVWord *>(nullptr)}) {
        OmbrixExtension *ext = ombrix(host, given);
        ASSERT_NE(ext, nullptr);
        const auto *w = reinterpret_cast<const uint64_t *>(ext);
        for (int zero : {0, 1, 2, 5, 7, 8}) EXPECT_EQ(w[zero], 0u) << "word " << zero;
        EXPECT_EQ(ext->journal, given ? given : qvhostDefaultJournal(host));
        EXPECT_TRUE(ext->pool == qvhostFindPool(host, "ombrix") &&
                    qvhostPoolJournal(ext->pool) == ext->journal);
        EXPECT_EQ(qvhostPoolFlags(ext->pool), 0u) << "the extension's pool is a locked one";
        EXPECT_TRUE(!ext->getReqVersion(ext, &v[0], &v[1], &v[2]) && v[0] == 7 && v[1] == 1 &&
                    v[2] == 1);
        EXPECT_TRUE(!ext->getVersion(ext, &v[0], &v[1], &v[2]) && v[0] == 1 && !v[1] && !v[2]);
        EXPECT_EQ(ext->getVersion(ext, nullptr, nullptr, nullptr) | ext->getReqVersion(ext, nullptr, nullptr, nullptr) |
                  qvextver(host, nullptr, nullptr) | qvvercn1(nullptr), 0u) << "null pointers: nothing written";
        const struct { OmbrixFunction *table; uint64_t words, filled; } tables[] = {
            {ext->factoryTable, OMBRIX_FACTORY_WORDS, 7},
            {ext->thinHashMapTable, OMBRIX_THIN_HASH_MAP_WORDS, 22},
            {ext->thinArrayListTable, OMBRIX_THIN_ARRAY_LIST_WORDS, 3},
            {ext->itemListTable, OMBRIX_ITEM_LIST_WORDS, 13}};
        uint64_t bytes = sizeof(OmbrixExtension);
        for (const auto &t : tables) {
            ASSERT_NE(t.table, nullptr);
            bytes += t.words * sizeof(OmbrixFunction);
            for (uint64_t i = t.filled; i < t.words; ++i) EXPECT_EQ(t.table[i], nullptr) << i;
        }
        EXPECT_EQ(poolStats(ext->pool).liveBlocks, 5u) << "the record and four tables";
        EXPECT_EQ(poolStats(ext->pool).liveBytes, bytes);
        EXPECT_TRUE(!ext->destroyExtension(ext) && !qvhostFindPool(host, "ombrix"));
    }
    EXPECT_EQ(qvhostJournalCount(journal), 0u) << "a successful entry writes no journal entry";
    qvhostJournalDestroy(journal);

    OmbrixVersionRecord record;  // sixteen texts around the build time
    std::memset(&record, 0x5a, sizeof record);
    EXPECT_EQ(qvvercn1(&record), 0u);
    uint64_t built = record.words[3];
    EXPECT_TRUE(built > 1700000000u && built <= uint64_t(std::time(nullptr))) << built;
    auto text = [&](int i) { return reinterpret_cast<const char *>(record.words[i]); };
    for (int i = 0; i < OMBRIX_VERSION_WORDS; ++i)
        EXPECT_TRUE(i == 3 || (i <= 16 ? text(i) && *text(i) : !record.words[i])) << "word " << i;
    EXPECT_STREQ(text(0), "ombrix");
    EXPECT_STREQ(text(1), "1.0.0");
    char expected[20];
    std::snprintf(expected, sizeof expected, "v1:%016llx", static_cast<unsigned long long>(built));
    EXPECT_STREQ(text(4), expected);
}

// Each refusal gives null, no pool and one status entry (facility 4, code 1) in the
// journal given or the default one; a host without a default journal gets null quietly.
TEST_F(EntryTest, EachRefusalGivesNullOneJournalEntryAndNoPool) {
    auto refusedOnce = [&](QVWord *into) {
        EXPECT_EQ(qvhostLivePools(host), poolsAtStart);
        EXPECT_STREQ(qvhostJournalEntry(into, 0), "status facility 4 code 1");
        EXPECT_EQ(qvhostJournalCount(into), 1u);
        qvhostJournalClear(into);
    };
    qvhostFailPoolCreation(host, 1);
    EXPECT_EQ(ombrix(host, nullptr), nullptr);
    refusedOnce(qvhostDefaultJournal(host));
    QVWord *journal = qvhostJournalCreate(host);
    qvhostJournalSetEcho(journal, 0);
    auto entry = [&] {
        OmbrixExtension *ext = ombrix(host, journal);
        return ext && ext->destroyExtension(ext) == 0;
    };
    EXPECT_EQ(sweepAllocationFailures(host, entry, [&](uint64_t) { refusedOnce(journal); }), 5u)
        << "the record and four tables";
    qvhostJournalDestroy(journal);
    qvhostSetValue(host, QV_HOST_DEFAULT_JOURNAL, nullptr);
    qvhostFailPoolCreation(host, 1);
    EXPECT_EQ(ombrix(host, nullptr), nullptr);
}

}  // namespace
