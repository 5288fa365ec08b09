#pragma once

#include "panelcore_global.h"

#include <cstdint>

namespace Dongles {

// Identity of one adapter, copied by value into every adapter object. Plain
// fixed-size record: adapter scans fill it straight from vendor structures.
struct PANELCORE_EXPORT SDongle
{
    char id[64] = {};          // NUL-terminated; first field of every DAT on this adapter
    char serial[16] = {};      // as the vendor library reports it; not always terminated
    char description[64] = {}; // NUL-terminated
    void *handle = nullptr;    // native handle of the open device
    void *extra1 = nullptr;    // adapter-specific
    void *extra2 = nullptr;    // adapter-specific

    // Copies up to the field width and always leaves the field terminated.
    static void copyText(char *field, std::size_t width, const char *text);

    bool operator==(const SDongle &other) const;
    bool operator!=(const SDongle &other) const { return !(*this == other); }
};

} // namespace Dongles
