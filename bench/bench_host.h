// The reference host a benchmark program runs the library on: one for the
// whole run, the library's handle pointing at it, and pool scribbling off
// so that blocks come back as malloc's do, with unspecified contents.
#pragma once

#include <cstdint>

#include "ombrix/extension.h"
#include "qvhost.h"

namespace bench {

inline QVWord *benchHost() {
    static QVWord *host = [] {
        QVWord *h = qvhostCreate();
        uint64_t major, minor;
        qvextver(h, &major, &minor);
        qvhostSetScribble(h, 0);
        return h;
    }();
    return host;
}

}  // namespace bench
