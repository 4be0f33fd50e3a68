// Random key definitions (negative sizes, counts without parts, paths of any depth) over an arena
// of items pointing back into it, through ombrixGetKey into a block of exactly the key length and
// FindByKey of an array and a linked list of the same items: the first element whose key, formed
// here step by step, equals the searched one; -1 / null for a refused definition. Calls whose
// paths would leave the caller's memory are the caller's fault and not made.
#include "fuzz_support.h"
#include "ombrix/array_list.h"
#include "ombrix/linked_list.h"

namespace {

constexpr int kItems = 4, kItemBytes = 32;  // bytes 0..15 data, pointers at 16 and 24
constexpr int64_t kLargestKey = 4096;       // longer keys are not worth allocating
using Bytes = std::vector<uint8_t>;

struct Region {  // readable memory: [lo, hi)
    uintptr_t lo, hi;
    bool holds(uintptr_t at, int64_t n) const { return at >= lo && at <= hi && n >= 0 && int64_t(hi - at) >= n; }
};

int32_t smallSigned(FuzzInput &in) {
    static constexpr int32_t kExtremes[] = {INT32_MIN, -1, INT32_MAX, 1 << 20};
    uint8_t b = in.byte();
    return b >= 0xFC ? kExtremes[b - 0xFC] : int32_t(b % 48) - 8;
}

struct Definition {  // `usable`: the rule restated, the library must agree; `sum`: of the part sizes
    OmbrixKeyDefinition def{};
    std::vector<OmbrixKeyPart> parts;
    bool usable = true;
    int64_t sum = 0;
};

Definition readDefinition(FuzzInput &in) {
    Definition d;
    uint8_t shape = in.byte();
    bool nullParts = shape & 0x80;
    d.def.keyMode = shape % 4;
    d.def.keyPartCount = int32_t(in.byte() % 8) - 1;
    for (int32_t i = 0; i < d.def.keyPartCount; ++i) {
        OmbrixKeyPart p{};
        p.partType = in.byte();
        p.partSize = smallSigned(in);
        p.levels = int32_t(in.byte() % 8) - 1;
        for (int32_t &offset : p.offsets) offset = smallSigned(in);
        d.usable &= p.partSize >= 0 && p.levels >= 1 && p.levels <= 5;
        d.sum += p.partSize;
        d.parts.push_back(p);
    }
    d.usable &= !(d.def.keyPartCount > 0 && nullParts);
    d.def.keyParts = nullParts ? nullptr : d.parts.data();
    return d;
}

// The key of the element at `start` formed part by part: each path's first
// step inside `first`, later ones inside the arena. False when a step leaves them.
bool composeKey(const Definition &d, uintptr_t start, Region first, Region arena, Bytes &key) {
    key.clear();
    for (const OmbrixKeyPart &p : d.parts) {
        if (p.partSize == 0) continue;
        uintptr_t at = start + uintptr_t(int64_t(p.offsets[0]));
        Region region = first;
        for (int32_t level = 1; level < p.levels; ++level, region = arena) {
            if (!region.holds(at, 8)) return false;
            std::memcpy(&at, reinterpret_cast<const void *>(at), 8);
            at += uintptr_t(int64_t(p.offsets[level]));
        }
        if (!region.holds(at, p.partSize)) return false;
        auto *field = reinterpret_cast<const uint8_t *>(at);
        key.insert(key.end(), field, field + p.partSize);
    }
    return true;
}

// The first `length` bytes of a zero-filled buffer of at least 8 bytes holding
// the pointer, as the lists compare pointer keys.
Bytes pointerKey(const void *item, int64_t length) {
    Bytes key(size_t(std::max<int64_t>(length, 8)), 0);
    std::memcpy(key.data(), &item, 8);
    key.resize(size_t(length));
    return key;
}

// ombrixGetKey writes exactly the length the definition implies into a block
// of that length, and what it writes is the key formed here.
void checkGetKey(FuzzInput &in, const Definition &d, const uint8_t *item, Region arena) {
    bool extract = in.byte() & 1;
    int32_t keySize = smallSigned(in);
    Bytes expected;  // stays empty for a refused definition: nothing may be written
    if (d.usable && d.def.keyMode == OMBRIX_KEY_REFERENCE) {
        expected = pointerKey(item, 8);
    } else if (d.usable && (!extract || d.def.keyMode == OMBRIX_KEY_VARIABLE)) {
        if (keySize > 0 && !arena.holds(uintptr_t(item), keySize)) return;
        if (keySize > 0) expected.assign(item, item + keySize);
    } else if (d.usable && (d.sum > kLargestKey || !composeKey(d, uintptr_t(item), arena, arena, expected))) {
        return;
    }
    ExactBuffer out(expected.size());
    ombrixGetKey(&d.def, extract, item, out.data(), keySize);
    FUZZ_CHECK(out.bytes(expected.size()) == expected);
}

// The searched key is an arena item; `recorded` holds the key size stored with each element.
struct Search { bool byValue; int32_t elementSize, keySize; const uint8_t *key; Region arena; std::vector<int32_t> recorded; };

// The index the search must give: -1 when the library refuses the definition or
// no key matches; -2 when the search would read outside the caller's memory.
int32_t expectedIndex(const Definition &d, const std::vector<const void *> &elements, const Search &s) {
    if (!d.usable) return -1;
    bool variable = d.def.keyMode == OMBRIX_KEY_VARIABLE, pointer = d.def.keyMode == OMBRIX_KEY_REFERENCE;
    int64_t n = variable ? s.keySize : d.sum;
    if (n <= 0 || n > INT32_MAX) return -1;
    if (s.byValue && variable && n > s.elementSize) return -1;  // bounded by the element
    if (s.byValue && !variable && !pointer) {
        for (const OmbrixKeyPart &p : d.parts) {
            int64_t span = p.levels == 1 ? p.partSize : 8;
            if (p.partSize && (p.offsets[0] < 0 || p.offsets[0] + span > s.elementSize)) return -1;
        }
    }
    if (n > kLargestKey || (!pointer && !s.arena.holds(uintptr_t(s.key), n))) return -2;
    Bytes searched = pointer ? pointerKey(s.key, n) : Bytes(s.key, s.key + n);
    for (size_t i = 0; i < elements.size(); ++i) {
        auto start = uintptr_t(elements[i]);
        Region first = s.byValue ? Region{start, start + uintptr_t(s.elementSize)} : s.arena;
        Bytes key;
        if (pointer) {
            key = pointerKey(elements[i], n);
        } else if (variable) {
            if (s.recorded[i] != n) continue;
            if (!first.holds(start, n)) return -2;
            key.assign(static_cast<const uint8_t *>(elements[i]), static_cast<const uint8_t *>(elements[i]) + n);
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
    uint8_t *arena = arenaBlock.data(), *end = arena + arenaBlock.size();
    Region whole{uintptr_t(arena), uintptr_t(end)};
    auto anItem = [&] { return arena + (in.byte() % kItems) * kItemBytes; };
    for (uint8_t *item = arena; item < end; item += kItemBytes) {
        for (int b = 0; b < 16; ++b) item[b] = in.byte() & 3;  // few values: keys collide
        for (int slot : {16, 24}) {
            uint8_t *target = anItem();
            std::memcpy(item + slot, &target, 8);
        }
    }
    Definition d = readDefinition(in);
    checkGetKey(in, d, anItem(), whole);

    uint8_t kind = in.byte();
    Search search{bool(kind & 1), kind & 1 ? int32_t(kind >> 1) % kItemBytes + 1 : 8, 0, nullptr, whole, {}};
    uint32_t keyType = search.byValue ? 0 : OMBRIX_BY_REFERENCE;
    OmbrixArrayList *array = arrayListNew(nullptr, {search.elementSize, keyType, OMBRIX_FLAG_NO_LOCK, 0, 0, nullptr});
    OmbrixLinkedList *linked = linkedListNew(nullptr, {search.elementSize, keyType, OMBRIX_FLAG_NO_LOCK, 0, nullptr});
    FUZZ_CHECK(array && linked);
    std::vector<const void *> inArray, inLinked;
    int count = in.byte() % 5;
    for (int i = 0; i < count; ++i) {
        const uint8_t *item = anItem();
        search.recorded.push_back(smallSigned(in));
        FUZZ_CHECK(arrayListAddLastWithKeySize(array, item, search.recorded[i]) == OMBRIX_OK);
        FUZZ_CHECK(linkedListAddLastWithKeySize(linked, item, search.recorded[i]) == OMBRIX_OK);
        inArray.push_back(arrayListGet(array, i));
        inLinked.push_back(linkedListGet(linked, i));
    }
    // The key size often one recorded with an element, so that searches find something.
    search.key = anItem();
    search.keySize = count && (in.byte() & 1) ? search.recorded[in.byte() % count] : smallSigned(in);
    int32_t wantArray = expectedIndex(d, inArray, search), wantLinked = expectedIndex(d, inLinked, search);
    if (wantArray != -2) FUZZ_CHECK(arrayListFindByKey(array, search.key, search.keySize, d.def) == wantArray);
    if (wantLinked != -2)
        FUZZ_CHECK(linkedListFindByKey(linked, search.key, search.keySize, d.def) ==
                   (wantLinked < 0 ? nullptr : inLinked[size_t(wantLinked)]));
    arrayListDestroy(array);
    linkedListDestroy(linked);
    return 0;
}
