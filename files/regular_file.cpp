// Reading a regular file whole, the same on every system: FileReader opens it
// under the system's rules.
#include "file_read_loop.h"
#include "file_system.h"

namespace trellikon {

FileRead readRegularFile(const std::string& path, std::size_t limit) {
    FileRead r;
    FileReader file;
    if (Failure f = file.open(path)) {
        r.failure = std::move(f);
        return r;
    }
    if (!readUpToLimit(r, file.size(), limit,
                       [&](std::uint8_t* buffer, std::size_t n) { return file.read(buffer, n); }))
        r.failure = file.failure();
    return r;
}

} // namespace trellikon
