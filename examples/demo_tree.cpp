// The ordered tree, created through the factory table like a host would.
#include <cstdint>
#include <cstdio>

#include "demo.h"
#include "ombrix/tree.h"

namespace {

struct Order {
    int32_t number;   // the key
    const char *what;
};

}  // namespace

void treeTour(void *library, OmbrixExtension *ext) {
    auto treeNewFn = reinterpret_cast<OmbrixTree *(*)(QVWord *, OmbrixTreeParms)>(
        ext->factoryTable[OMBRIX_FACTORY_TREE_NEW]);
    uint32_t (*size)(OmbrixTree *) = nullptr;
    if (!treeNewFn || !bind(library, "treeSize", &size)) return;

    // One signed 32-bit part at offset 0 of each item.
    OmbrixKeyPart part = {};
    part.partType = OMBRIX_PART_INT32;
    part.partSize = 4;
    part.levels = 1;
    OmbrixTreeParms parms = {};
    parms.keyMode = OMBRIX_KEY_COMPOSITE;
    parms.keyPartCount = 1;
    parms.keyParts = &part;
    parms.nodesPerBlock = 16;
    OmbrixTree *tree = treeNewFn(nullptr, parms);
    if (!tree) {
        std::fprintf(stderr, "ombrix-demo: treeNew returned null\n");
        return;
    }
    Order orders[] = {{42, "tea"}, {7, "bread"}, {19, "milk"}, {3, "eggs"}, {28, "jam"}, {7, "again"}};
    for (Order &o : orders) tree->add(tree, &o);
    std::printf("tree: %u items (order 7 was added twice; the first stays)\n", size(tree));
    std::printf("tree levels: ");
    std::fflush(stdout);
    tree->print(tree);
    std::fflush(stdout);

    std::printf("tree in key order:");
    OmbrixIterator it = tree->iterator(tree);
    const char *separator = " ";
    while (it.hasNext) {
        auto *o = static_cast<Order *>(it.next(&it));
        std::printf("%s%d %s", separator, o->number, o->what);
        separator = ", ";
    }
    it.release(&it);
    Order probe = {19, nullptr};
    auto *found = static_cast<Order *>(tree->find(tree, &probe));
    std::printf("\ntree find 19: %s\n", found ? found->what : "(none)");
    tree->remove(tree, &probe);
    std::printf("tree after removing 19: %u items\n", size(tree));
    tree->destroy(tree);
}
