// Helpers shared by the fuzz targets.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <tuple>
#include <vector>

#include "ombrix/extension.h"
#include "qvhost.h"

// A failed invariant aborts, which libFuzzer reports as a crash and keeps the input for.
[[noreturn]] inline void fuzzFailed(const char *file, int line, const char *cond) {
    std::fprintf(stderr, "%s:%d: invariant failed: %s\n", file, line, cond);
    std::abort();
}
#define FUZZ_CHECK(cond) ((cond) ? void(0) : fuzzFailed(__FILE__, __LINE__, #cond))

// A heap block of exactly `size` bytes, so that AddressSanitizer catches the
// first byte touched past the length a routine was given.
class ExactBuffer {
    size_t size_;
    std::unique_ptr<uint8_t[]> bytes_;

public:
    explicit ExactBuffer(size_t size, const uint8_t *from = nullptr) : size_(size), bytes_(new uint8_t[size]) {
        if (from && size) std::memcpy(bytes_.get(), from, size);
    }
    uint8_t *data() const { return bytes_.get(); }
    const char *chars() const { return reinterpret_cast<const char *>(bytes_.get()); }
    size_t size() const { return size_; }
    std::vector<uint8_t> bytes(size_t n) const { return {data(), data() + n}; }
};

// Takes the fuzzer's bytes front to back: small choices first, the rest as the text under test.
class FuzzInput {
    const uint8_t *data_;
    size_t size_;

public:
    FuzzInput(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return size_ ? (--size_, *data_++) : 0; }
    uint16_t word() { return uint16_t(byte() | byte() << 8); }
    const uint8_t *rest() const { return data_; }
    size_t restSize() const { return size_; }
    ExactBuffer restBlock() const { return ExactBuffer(size_, data_); }
};

// One reference host for the whole run, its journal silent, the library told its version as a loader would.
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
