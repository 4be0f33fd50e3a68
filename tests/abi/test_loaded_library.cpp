// The library as a host sees it: loaded with dlopen, entered through its
// exported names, its tables read by position.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ombrix/extension.h"
#include "qvhost.h"

namespace {

// The function every table position holds, by name; "" marks a word that
// stays zero.
const std::vector<std::string> factoryNames = {
    "arrayListNew", "storageNew", "linkedListNew", "hashMapNew",
    "hashMapNewFromBlob", "stringBufferNew", "treeNew"};
const std::vector<std::string> thinHashMapNames = {
    "thinHashMapNew", "thinHashMapNewFromBlob", "thinHashMapDestroy", "thinHashMapAdd",
    "thinHashMapRemove", "thinHashMapFind", "thinHashMapAddWithKeySize",
    "thinHashMapRemoveWithKeySize", "thinHashMapFindWithKeySize", "thinHashMapSize",
    "thinHashMapGetKeySize", "thinHashMapToBlob", "thinHashMapGetBlobSize", "thinHashMapMerge",
    "thinHashMapMergeFromBlob", "thinHashMapReset", "thinHashMapIterator",
    "thinHashMapEntryIterator", "thinHashMapClone", "thinHashMapStat", "thinHashMapNewMultiple",
    "thinHashMapDestroyMultiple"};
const std::vector<std::string> thinArrayListNames = {"thinArrayListNew", "thinArrayListAdd",
                                                     "thinArrayListDestroy"};
const std::vector<std::string> itemListNames = {
    "itemListNew", "itemListAddInt32", "itemListAddInt64", "itemListAddDouble",
    "itemListAddFloat", "itemListAddChar", "itemListAddQVChar", "itemListAddList",
    "itemListFind", "itemListGetBlobSize", "itemListToBlob", "itemListDestroy",
    "itemListAddArrayList"};

class LoadedLibrary : public ::testing::Test {
  protected:
    void SetUp() override {
        library = dlopen(OMBRIX_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        host = qvhostCreate();
        qvhostJournalSetEcho(qvhostDefaultJournal(host), 0);
    }
    void TearDown() override {
        EXPECT_EQ(qvhostLivePools(host), 0u);
        qvhostDestroy(host);
        dlclose(library);
    }
    template <typename T>
    T symbol(const char *name) {
        return reinterpret_cast<T>(dlsym(library, name));
    }

    void *library = nullptr;
    QVWord *host = nullptr;
};

TEST_F(LoadedLibrary, EnteredAsTheHostEntersIt) {
    auto qvextverFn = symbol<QVStatus (*)(QVWord *, uint64_t *, uint64_t *)>("qvextver");
    auto entry = symbol<OmbrixExtension *(*)(QVWord *, QVWord *)>("ombrix");
    auto handle = symbol<QVWord **>("Exported_QVHandle");
    ASSERT_TRUE(qvextverFn && entry && handle);
    uint64_t major = 0, minor = 0;
    ASSERT_EQ(qvextverFn(host, &major, &minor), 0u);
    EXPECT_EQ(*handle, host);
    OmbrixExtension *ext = entry(host, nullptr);
    ASSERT_NE(ext, nullptr);
    ext->destroyExtension(ext);
}

TEST_F(LoadedLibrary, EveryTableWordIsTheExportedFunctionOfItsName) {
    auto qvextverFn = symbol<QVStatus (*)(QVWord *, uint64_t *, uint64_t *)>("qvextver");
    auto entry = symbol<OmbrixExtension *(*)(QVWord *, QVWord *)>("ombrix");
    uint64_t major, minor;
    qvextverFn(host, &major, &minor);
    OmbrixExtension *ext = entry(host, nullptr);
    ASSERT_NE(ext, nullptr);
    struct {
        OmbrixFunction *table;
        const std::vector<std::string> &names;
    } tables[] = {{ext->factoryTable, factoryNames},
                  {ext->thinHashMapTable, thinHashMapNames},
                  {ext->thinArrayListTable, thinArrayListNames},
                  {ext->itemListTable, itemListNames}};
    for (auto &t : tables) {
        for (size_t i = 0; i < t.names.size(); ++i) {
            // A family not built in yet exports no such name and leaves the word zero.
            void *exported = dlsym(library, t.names[i].c_str());
            EXPECT_EQ(reinterpret_cast<void *>(t.table[i]), exported) << t.names[i];
        }
    }
    ext->destroyExtension(ext);
}

TEST_F(LoadedLibrary, OperationsOfTheRecordAreNotExported) {
    for (const char *hidden : {"getReqVersion", "getVersion", "destroyExtension", "poolParms",
                               "lockParms", "iter"})
        EXPECT_EQ(dlsym(library, hidden), nullptr) << hidden;
}

}  // namespace
