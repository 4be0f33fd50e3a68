// The contents of the extension's four function tables, by position.
#pragma once

#include "ombrix/extension.h"

namespace omb {

struct TableLayout {
    const OmbrixFunction *entries; // the filled words, in order
    int filled;
    int words;                     // the table's whole length; the rest is zero
};

extern const TableLayout factoryLayout;
extern const TableLayout thinHashMapLayout;
extern const TableLayout thinArrayListLayout;
extern const TableLayout itemListLayout;

}  // namespace omb
