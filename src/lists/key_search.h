// The lists' search by key: how long the compared key is, and the two key
// buffers a search compares.
#pragma once

#include <cstdint>

#include "core/host_calls.h"
#include "ombrix/container.h"

namespace omb {

// What a by-reference list passes as its element size: its elements are the
// caller's memory, of a size the list does not know.
constexpr int32_t kCallerOwnedElements = -1;

// The key length n of a FindByKey: the call's key size for keyMode 1, else
// the sum of the part sizes. 0, which finds nothing, when n is not positive,
// when the definition's parts are unusable, or when a by-value list holding
// `elementBytes` per element could not form an element's key from its own
// copy: its keys are at most elementBytes long (a longer recorded key size
// is bounded by the element), and its parts' first steps must lie inside
// the element.
int32_t keySearchLength(const OmbrixKeyDefinition &definition, int32_t keySize,
                        int32_t elementBytes);

// The key comparison of the lists' FindByKey. Both buffers hold at least 8
// bytes, because keyMode 2 extraction writes the 8-byte item pointer
// whatever n is; the first n bytes compare.
class KeySearch {
  public:
    // Takes two zero-filled buffers from `pool` and forms the searched key
    // from `key` (already a key, not an item). `length` comes from
    // keySearchLength. ready() is false when a buffer was refused; nothing
    // is then held.
    KeySearch(QVWord *pool, const OmbrixKeyDefinition &definition, const void *key,
              int32_t length);
    ~KeySearch();
    KeySearch(const KeySearch &) = delete;
    KeySearch &operator=(const KeySearch &) = delete;

    bool ready() const { return searched_ && candidate_; }
    // Whether the key extracted from `element` equals the searched key. In
    // keyMode 1 only an element recorded with key size n can match; a null
    // element (a by-reference list may hold one) has no key and never does.
    bool matches(const void *element, int64_t recordedKeySize);

  private:
    QVWord *pool_;
    const OmbrixKeyDefinition &definition_;
    int32_t length_;
    void *searched_;
    void *candidate_;
};

}  // namespace omb
