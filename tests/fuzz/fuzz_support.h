// Helpers shared by the fuzz targets.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ombrix/extension.h"
#include "qvhost.h"

// A failed invariant: print where and abort, which libFuzzer reports as a
// crash and keeps the input for.
#define FUZZ_CHECK(cond)                                                              \
    do {                                                                              \
        if (!(cond)) {                                                                \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, \
                         #cond);                                                      \
            std::abort();                                                             \
        }                                                                             \
    } while (0)

// A heap block of exactly `size` bytes, so that AddressSanitizer catches the
// first byte read or written past the length a routine was given. An empty
// block is still a distinct allocation.
class ExactBuffer {
public:
    explicit ExactBuffer(size_t size) : size_(size), bytes_(new uint8_t[size]) {}
    ExactBuffer(const uint8_t *data, size_t size) : ExactBuffer(size) {
        if (size) std::memcpy(bytes_.get(), data, size);
    }
    uint8_t *data() { return bytes_.get(); }
    const uint8_t *data() const { return bytes_.get(); }
    size_t size() const { return size_; }

private:
    size_t size_;
    std::unique_ptr<uint8_t[]> bytes_;
};

// Takes the fuzzer's bytes front to back: small choices first, the rest as
// the text under test.
class FuzzInput {
public:
    FuzzInput(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return size_ ? (--size_, *data_++) : 0; }
    uint16_t word() { return uint16_t(byte() | byte() << 8); }
    const uint8_t *rest() const { return data_; }
    size_t restSize() const { return size_; }

private:
    const uint8_t *data_;
    size_t size_;
};

// One reference host for the whole run, its journal silent, the library
// told its version as a loader would.
inline QVWord *referenceHost() {
    static QVWord *host = [] {
        QVWord *h = qvhostCreate();
        qvhostJournalSetEcho(qvhostDefaultJournal(h), 0);
        uint64_t major = 0, minor = 0;
        qvextver(h, &major, &minor);
        return h;
    }();
    return host;
}
