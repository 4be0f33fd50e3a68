// The entry, the extension record, its version operations and the build of
// its tables, failures included.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

#include "fault_sweep.h"
#include "host_fixture.h"
#include "ombrix/extension.h"

namespace {

class EntryTest : public HostTest {};

const uint64_t *wordsOf(const OmbrixExtension *ext) {
    return reinterpret_cast<const uint64_t *>(ext);
}

TEST_F(EntryTest, QvextverWritesTheHostInterfaceVersionAndKeepsTheHandle) {
    Exported_QVHandle = nullptr;
    uint64_t major = 99, minor = 99;
    EXPECT_EQ(qvextver(host, &major, &minor), 0u);
    EXPECT_EQ(major, 7u);
    EXPECT_EQ(minor, 1u);
    EXPECT_EQ(Exported_QVHandle, host);

    Exported_QVHandle = nullptr;
    EXPECT_EQ(qvextent(host), 0u);
    EXPECT_EQ(Exported_QVHandle, host);
}

TEST_F(EntryTest, RecordHasItsOperationsAtTheirWordsAndZerosElsewhere) {
    QVWord *journal = qvhostJournalCreate(host);
    OmbrixExtension *ext = ombrix(host, journal);
    ASSERT_NE(ext, nullptr);
    const uint64_t *w = wordsOf(ext);
    for (int zero : {0, 1, 2, 5, 7, 8}) EXPECT_EQ(w[zero], 0u) << "word " << zero;
    EXPECT_EQ(ext->pool, qvhostFindPool(host, "ombrix"));
    EXPECT_EQ(ext->journal, journal);
    EXPECT_EQ(qvhostPoolJournal(ext->pool), journal);
    EXPECT_EQ(qvhostPoolFlags(ext->pool), 0u) << "the extension's pool is a locked one";

    uint64_t v[3] = {0, 0, 0};
    EXPECT_EQ(ext->getReqVersion(ext, &v[0], &v[1], &v[2]), 0u);
    EXPECT_EQ(v[0], 7u);
    EXPECT_EQ(v[1], 1u);
    EXPECT_EQ(v[2], 1u);
    EXPECT_EQ(ext->getVersion(ext, &v[0], &v[1], &v[2]), 0u);
    EXPECT_EQ(v[0], 1u);
    EXPECT_EQ(v[1], 0u);
    EXPECT_EQ(v[2], 0u);

    EXPECT_EQ(ext->destroyExtension(ext), 0u);
    EXPECT_EQ(qvhostFindPool(host, "ombrix"), nullptr);
    EXPECT_EQ(qvhostJournalCount(journal), 0u) << "a successful entry writes no journal entry";
    qvhostJournalDestroy(journal);
}

TEST_F(EntryTest, TablesHaveTheirLengthsWithTheTailZero) {
    OmbrixExtension *ext = ombrix(host, nullptr);
    ASSERT_NE(ext, nullptr);
    struct {
        OmbrixFunction *table;
        uint64_t words;
        int filled;
    } tables[] = {{ext->factoryTable, OMBRIX_FACTORY_WORDS, 7},
                  {ext->thinHashMapTable, OMBRIX_THIN_HASH_MAP_WORDS, 22},
                  {ext->thinArrayListTable, OMBRIX_THIN_ARRAY_LIST_WORDS, 3},
                  {ext->itemListTable, OMBRIX_ITEM_LIST_WORDS, 13}};
    QVHostPoolStats stats = poolStats(ext->pool);
    EXPECT_EQ(stats.liveBlocks, 5u) << "the record and four tables";
    uint64_t expectedBytes = sizeof(OmbrixExtension);
    for (auto &t : tables) {
        ASSERT_NE(t.table, nullptr);
        expectedBytes += t.words * sizeof(OmbrixFunction);
        for (uint64_t i = t.filled; i < t.words; ++i)
            EXPECT_EQ(t.table[i], nullptr) << "word " << i << " past the filled ones";
    }
    EXPECT_EQ(stats.liveBytes, expectedBytes);
    ext->destroyExtension(ext);
}

TEST_F(EntryTest, NullJournalMeansTheHostDefault) {
    OmbrixExtension *ext = ombrix(host, nullptr);
    ASSERT_NE(ext, nullptr);
    EXPECT_EQ(ext->journal, qvhostDefaultJournal(host));
    ext->destroyExtension(ext);
}

TEST_F(EntryTest, EachRefusedAllocationGivesNullOneJournalEntryAndNoPool) {
    QVWord *journal = qvhostJournalCreate(host);
    uint64_t allocations = sweepAllocationFailures(
        host,
        [&] {
            qvhostJournalClear(journal);
            OmbrixExtension *ext = ombrix(host, journal);
            if (!ext) return false;
            ext->destroyExtension(ext);
            return true;
        },
        [&](uint64_t n) {
            EXPECT_EQ(qvhostLivePools(host), poolsAtStart) << "refused allocation " << n;
            ASSERT_EQ(qvhostJournalCount(journal), 1u) << "refused allocation " << n;
            uintptr_t values[5] = {};
            ASSERT_EQ(qvhostJournalLastValues(journal, values), QV_JOURNAL_STATUS_TO_JNL);
            EXPECT_EQ(values[0], 4u);
            EXPECT_EQ(values[1], 1u);
        });
    EXPECT_EQ(allocations, 5u) << "the record and four tables";
    qvhostJournalDestroy(journal);
}

TEST_F(EntryTest, RefusedPoolGivesNullAndOneEntryInTheDefaultJournal) {
    QVWord *journal = qvhostDefaultJournal(host);
    qvhostJournalClear(journal);
    qvhostFailPoolCreation(host, 1);
    EXPECT_EQ(ombrix(host, nullptr), nullptr);
    EXPECT_EQ(qvhostJournalCount(journal), 1u);
    EXPECT_EQ(counters().poolsCreated, 0u);
}

TEST_F(EntryTest, HostWithoutDefaultJournalStillGetsANullResultQuietly) {
    qvhostSetValue(host, QV_HOST_DEFAULT_JOURNAL, nullptr);
    qvhostFailPoolCreation(host, 1);
    EXPECT_EQ(ombrix(host, nullptr), nullptr);
}

TEST_F(EntryTest, VersionRecordHoldsSixteenTextsAroundTheBuildTime) {
    OmbrixVersionRecord record;
    std::memset(&record, 0x5a, sizeof record);
    EXPECT_EQ(qvvercn1(&record), 0u);
    uint64_t built = record.words[3];
    EXPECT_GT(built, 1700000000u);
    EXPECT_LE(built, static_cast<uint64_t>(std::time(nullptr)));
    for (int i = 0; i < 17; ++i) {
        if (i == 3) continue;
        const char *text = reinterpret_cast<const char *>(record.words[i]);
        ASSERT_NE(text, nullptr) << "word " << i;
        EXPECT_GT(std::strlen(text), 0u) << "word " << i;
    }
    for (int i = 17; i < OMBRIX_VERSION_WORDS; ++i) EXPECT_EQ(record.words[i], 0u) << "word " << i;
    EXPECT_STREQ(reinterpret_cast<const char *>(record.words[0]), "ombrix");
    EXPECT_STREQ(reinterpret_cast<const char *>(record.words[1]), "1.0.0");

    char expected[20];
    std::snprintf(expected, sizeof expected, "v1:%016llx", static_cast<unsigned long long>(built));
    EXPECT_STREQ(reinterpret_cast<const char *>(record.words[4]), expected);
}

}  // namespace
