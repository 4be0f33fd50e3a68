// The library as a host sees it: loaded with dlopen, entered through its
// exported names, its tables read by position.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ombrix/extension.h"
#include "qvhost.h"

namespace {

using Names = std::vector<std::string>;  // the function each table position holds
const Names factoryNames = {"arrayListNew",       "storageNew",      "linkedListNew", "hashMapNew",
                            "hashMapNewFromBlob", "stringBufferNew", "treeNew"};
const Names thinHashMapNames = {
    "thinHashMapNew", "thinHashMapNewFromBlob", "thinHashMapDestroy", "thinHashMapAdd",
    "thinHashMapRemove", "thinHashMapFind", "thinHashMapAddWithKeySize",
    "thinHashMapRemoveWithKeySize", "thinHashMapFindWithKeySize", "thinHashMapSize",
    "thinHashMapGetKeySize", "thinHashMapToBlob", "thinHashMapGetBlobSize", "thinHashMapMerge",
    "thinHashMapMergeFromBlob", "thinHashMapReset", "thinHashMapIterator",
    "thinHashMapEntryIterator", "thinHashMapClone", "thinHashMapStat", "thinHashMapNewMultiple",
    "thinHashMapDestroyMultiple"};
const Names thinArrayListNames = {"thinArrayListNew", "thinArrayListAdd", "thinArrayListDestroy"};
const Names itemListNames = {
    "itemListNew", "itemListAddInt32", "itemListAddInt64", "itemListAddDouble", "itemListAddFloat",
    "itemListAddChar", "itemListAddQVChar", "itemListAddList", "itemListFind",
    "itemListGetBlobSize", "itemListToBlob", "itemListDestroy", "itemListAddArrayList"};

TEST(LoadedLibrary, EnteredAsTheHostEntersItEachTableWordTheExportedFunctionOfItsName) {
    void *library = dlopen(OMBRIX_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto qvextver = reinterpret_cast<QVStatus (*)(QVWord *, uint64_t *, uint64_t *)>(
        dlsym(library, "qvextver"));
    auto entry =
        reinterpret_cast<OmbrixExtension *(*)(QVWord *, QVWord *)>(dlsym(library, "ombrix"));
    auto handle = static_cast<QVWord **>(dlsym(library, "Exported_QVHandle"));
    ASSERT_TRUE(qvextver && entry && handle);
    QVWord *host = qvhostCreate();
    uint64_t major = 0, minor = 0;
    EXPECT_TRUE(qvextver(host, &major, &minor) == 0 && *handle == host);
    OmbrixExtension *ext = entry(host, nullptr);
    ASSERT_NE(ext, nullptr);
    const struct { OmbrixFunction *table; const Names &names; } tables[] = {
        {ext->factoryTable, factoryNames}, {ext->thinHashMapTable, thinHashMapNames},
        {ext->thinArrayListTable, thinArrayListNames}, {ext->itemListTable, itemListNames}};
    for (const auto &t : tables)  // a family not built in exports no such name: its word is zero
        for (size_t i = 0; i < t.names.size(); ++i)
            EXPECT_EQ(reinterpret_cast<void *>(t.table[i]), dlsym(library, t.names[i].c_str()))
                << t.names[i];
    ext->destroyExtension(ext);
    EXPECT_EQ(qvhostLivePools(host), 0u);
    qvhostDestroy(host);
    dlclose(library);
}

}  // namespace
