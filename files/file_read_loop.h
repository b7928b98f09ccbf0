#pragma once
// The part of reading a regular file that does not depend on the system: a
// file opened and found regular, `fileSize` bytes long when it was looked at,
// is read on up to `limit` bytes in all, since it may have grown meanwhile.
// Used by files_posix.cpp and files_windows.cpp.

#include "file_system.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace trellikon {

// `readSome(buffer, n)` reads at most n bytes and gives how many, 0 at the
// end of the file, or a negative number when the read failed (then false, for
// the caller to give the reason).
template <class ReadSome>
bool readUpToLimit(FileRead& r, std::uintmax_t fileSize, std::size_t limit, ReadSome readSome) {
    r.fileSize = fileSize;
    r.bytes.resize(static_cast<std::size_t>(std::min<std::uintmax_t>(fileSize, limit)));
    std::size_t got = 0;
    for (;;) {
        if (got == r.bytes.size()) {
            if (got >= limit)
                break;
            r.bytes.resize(std::min(limit, got + 4096));
        }
        const long long n = readSome(r.bytes.data() + got, r.bytes.size() - got);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    r.bytes.resize(got);
    r.fileSize = std::max<std::uintmax_t>(r.fileSize, got);
    return true;
}

} // namespace trellikon
