// Random key definitions (negative sizes, counts without parts, paths of any
// depth) over a small arena of items whose pointers lead back into the
// arena, driven through ombrixGetKey into a buffer of exactly the key length
// and through FindByKey of an array list and a linked list holding the same
// items. Both searches must give the first element whose key, formed here
// step by step, equals the searched key, and -1 / null for a definition the
// library refuses. Calls whose paths would leave the caller's memory are the
// caller's fault and are not made.
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "ombrix/array_list.h"
#include "ombrix/linked_list.h"

namespace {

constexpr int kItems = 4;
constexpr int kItemBytes = 32;       // bytes 0..15 data, pointers at 16 and 24
constexpr int64_t kLargestKey = 4096;  // longer keys are not worth allocating

// Readable memory: [lo, hi).
struct Region {
    uintptr_t lo, hi;
    bool holds(uintptr_t at, int64_t bytes) const {
        return at >= lo && at <= hi && bytes >= 0 && int64_t(hi - at) >= bytes;
    }
};

int32_t smallSigned(FuzzInput &in) {
    static constexpr int32_t kExtremes[] = {INT32_MIN, -1, INT32_MAX, 1 << 20};
    uint8_t b = in.byte();
    if (b >= 0xFC) return kExtremes[b - 0xFC];
    return int32_t(b % 48) - 8;
}

struct Definition {
    OmbrixKeyDefinition def{};
    std::vector<OmbrixKeyPart> parts;
    bool usable = true;  // the rule, restated: the library must agree
};

Definition readDefinition(FuzzInput &in) {
    Definition d;
    uint8_t shape = in.byte();
    d.def.keyMode = shape % 4;
    d.def.keyPartCount = int32_t(in.byte() % 8) - 1;
    bool nullParts = shape & 0x80;
    for (int32_t i = 0; i < d.def.keyPartCount; ++i) {
        OmbrixKeyPart p{};
        p.partType = in.byte();
        p.partSize = smallSigned(in);
        p.levels = int32_t(in.byte() % 8) - 1;
        for (int32_t &offset : p.offsets) offset = smallSigned(in);
        d.usable &= p.partSize >= 0 && p.levels >= 1 && p.levels <= 5;
        d.parts.push_back(p);
    }
    if (d.def.keyPartCount > 0 && nullParts) d.usable = false;
    d.def.keyParts = nullParts ? nullptr : d.parts.data();
    return d;
}

int64_t partSum(const Definition &d) {
    int64_t sum = 0;
    for (const OmbrixKeyPart &p : d.parts) sum += p.partSize;
    return sum;
}

// The field a part reaches from `start`: its first step inside `first`, the
// later ones inside the arena. 0 when a step leaves them.
uintptr_t reach(const OmbrixKeyPart &p, uintptr_t start, Region first, Region arena) {
    uintptr_t at = start + uintptr_t(int64_t(p.offsets[0]));
    Region region = first;
    for (int32_t level = 1; level < p.levels; ++level) {
        if (!region.holds(at, 8)) return 0;
        uintptr_t next;
        std::memcpy(&next, reinterpret_cast<const void *>(at), 8);
        at = next + uintptr_t(int64_t(p.offsets[level]));
        region = arena;
    }
    return region.holds(at, p.partSize) ? at : 0;
}

// The key of the element at `start` (readable as `first`) formed part by
// part, or false when a path leaves the readable memory.
bool composeKey(const Definition &d, uintptr_t start, Region first, Region arena,
                std::vector<uint8_t> &key) {
    key.clear();
    for (const OmbrixKeyPart &p : d.parts) {
        if (p.partSize == 0) continue;
        uintptr_t field = reach(p, start, first, arena);
        if (!field) return false;
        auto *bytes = reinterpret_cast<const uint8_t *>(field);
        key.insert(key.end(), bytes, bytes + p.partSize);
    }
    return true;
}

// The first `length` bytes of a zero-filled buffer of at least 8 bytes that
// holds the pointer, as the lists compare pointer keys.
std::vector<uint8_t> pointerKey(const void *item, int64_t length) {
    std::vector<uint8_t> key(size_t(length < 8 ? 8 : length), 0);
    std::memcpy(key.data(), &item, 8);
    key.resize(size_t(length));
    return key;
}

// ombrixGetKey writes exactly the length the definition implies into a
// block of that length, and what it writes is the key formed here.
void checkGetKey(FuzzInput &in, const Definition &d, const uint8_t *item, Region arena) {
    bool extract = in.byte() & 1;
    int32_t keySize = smallSigned(in);
    bool copies = !extract || d.def.keyMode == OMBRIX_KEY_VARIABLE;
    std::vector<uint8_t> expected;
    if (!d.usable) {
        // nothing may be written: the block has no bytes
    } else if (d.def.keyMode == OMBRIX_KEY_REFERENCE) {
        expected = pointerKey(item, 8);
    } else if (copies) {
        if (keySize > 0 && !arena.holds(uintptr_t(item), keySize)) return;
        if (keySize > 0) expected.assign(item, item + keySize);
    } else if (partSum(d) > kLargestKey ||
               !composeKey(d, uintptr_t(item), arena, arena, expected)) {
        return;
    }
    ExactBuffer out(expected.size());
    ombrixGetKey(&d.def, extract, item, out.data(), keySize);
    FUZZ_CHECK(expected.empty() || std::memcmp(out.data(), expected.data(), expected.size()) == 0);
}

// The elements as a list hands them back, with the key sizes recorded.
using Elements = std::vector<const void *>;

struct Search {
    bool byValue;
    int32_t elementSize, keySize;
    const uint8_t *key;  // an arena item
    Region arena;
    std::vector<int32_t> recorded;  // with each element
};

// The index the search must give: -1 when the library refuses the
// definition or no key matches; -2 when the search would read outside the
// caller's memory and must not be made.
int32_t expectedIndex(const Definition &d, const Elements &elements, const Search &s) {
    if (!d.usable) return -1;
    bool variable = d.def.keyMode == OMBRIX_KEY_VARIABLE;
    bool pointer = d.def.keyMode == OMBRIX_KEY_REFERENCE;
    int64_t n = variable ? s.keySize : partSum(d);
    if (n <= 0 || n > INT32_MAX) return -1;
    if (s.byValue && variable && n > s.elementSize) return -1;  // bounded by the element
    if (s.byValue && !variable && !pointer) {
        for (const OmbrixKeyPart &p : d.parts) {
            int64_t span = p.levels == 1 ? p.partSize : 8;
            if (p.partSize && (p.offsets[0] < 0 || p.offsets[0] + span > s.elementSize)) return -1;
        }
    }
    if (n > kLargestKey || (!pointer && !s.arena.holds(uintptr_t(s.key), n))) return -2;
    std::vector<uint8_t> searched =
        pointer ? pointerKey(s.key, n) : std::vector<uint8_t>(s.key, s.key + n);
    for (size_t i = 0; i < elements.size(); ++i) {
        auto start = uintptr_t(elements[i]);
        Region first = s.byValue ? Region{start, start + uintptr_t(s.elementSize)} : s.arena;
        std::vector<uint8_t> key;
        if (pointer) {
            key = pointerKey(elements[i], n);
        } else if (variable) {
            if (s.recorded[i] != n) continue;
            if (!first.holds(start, n)) return -2;
            auto *bytes = static_cast<const uint8_t *>(elements[i]);
            key.assign(bytes, bytes + n);
        } else if (!composeKey(d, start, first, s.arena, key)) {
            return -2;
        }
        if (key == searched) return int32_t(i);
    }
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    referenceHost();
    FuzzInput in(data, size);
    ExactBuffer arenaBlock(kItems * kItemBytes);
    uint8_t *arena = arenaBlock.data();
    Region whole{uintptr_t(arena), uintptr_t(arena + arenaBlock.size())};
    auto anItem = [&] { return arena + (in.byte() % kItems) * kItemBytes; };
    for (int i = 0; i < kItems; ++i) {
        uint8_t *item = arena + i * kItemBytes;
        for (int b = 0; b < 16; ++b) item[b] = in.byte() & 3;  // few values: keys collide
        for (int slot : {16, 24}) {
            uint8_t *target = anItem();
            std::memcpy(item + slot, &target, 8);
        }
    }
    Definition d = readDefinition(in);
    checkGetKey(in, d, anItem(), whole);

    uint8_t kind = in.byte();
    bool byValue = kind & 1;
    int32_t elementSize = byValue ? int32_t(kind >> 1) % kItemBytes + 1 : 8;
    uint32_t keyType = byValue ? 0 : OMBRIX_BY_REFERENCE;
    OmbrixArrayList *array =
        arrayListNew(nullptr, {elementSize, keyType, OMBRIX_FLAG_NO_LOCK, 0, 0, nullptr});
    OmbrixLinkedList *linked =
        linkedListNew(nullptr, {elementSize, keyType, OMBRIX_FLAG_NO_LOCK, 0, nullptr});
    FUZZ_CHECK(array && linked);
    Search search{byValue, elementSize, 0, nullptr, whole, {}};
    Elements inArray, inLinked;
    int count = in.byte() % 5;
    for (int i = 0; i < count; ++i) {
        const uint8_t *item = anItem();
        search.recorded.push_back(smallSigned(in));
        FUZZ_CHECK(arrayListAddLastWithKeySize(array, item, search.recorded[i]) == OMBRIX_OK);
        FUZZ_CHECK(linkedListAddLastWithKeySize(linked, item, search.recorded[i]) == OMBRIX_OK);
        inArray.push_back(arrayListGet(array, i));
        inLinked.push_back(linkedListGet(linked, i));
    }
    // An arena item as the key (for pointer keys, maybe a stored pointer);
    // the key size often one recorded with an element, so that searches
    // find something.
    search.key = anItem();
    bool recordedSize = count && (in.byte() & 1);
    search.keySize = recordedSize ? search.recorded[in.byte() % count] : smallSigned(in);
    int32_t wantArray = expectedIndex(d, inArray, search);
    int32_t wantLinked = expectedIndex(d, inLinked, search);
    if (wantArray != -2)
        FUZZ_CHECK(arrayListFindByKey(array, search.key, search.keySize, d.def) == wantArray);
    if (wantLinked != -2) {
        const void *found = linkedListFindByKey(linked, search.key, search.keySize, d.def);
        FUZZ_CHECK(found == (wantLinked < 0 ? nullptr : inLinked[size_t(wantLinked)]));
    }
    arrayListDestroy(array);
    linkedListDestroy(linked);
    return 0;
}
