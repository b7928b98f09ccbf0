// The register's import of any file.
//
// Checked: a file is taken whole or refused whole (a refused file leaves the
// register as it was); a taken file imported again adds nothing; and what the
// register then exports reads back with the same versions.
#include "register_file.h"
#include "sqlite_register.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

using namespace trellikon::reg;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "register import: %s\n", what);
    std::abort();
}

std::size_t versionCount(RegisterStore& r) {
    const auto h = r.history({});
    if (!h.ok())
        fail("history failed");
    return h.value.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    std::string error;
    OpenOptions options;
    options.dailyCopy = false;
    const auto reg = SqliteRegister::open(":memory:", error, options);
    if (!reg)
        fail("an in-memory register did not open");
    // Something already there, which a refused file must leave alone.
    NewVersion before;
    before.bytes.fill(0x1A);
    before.port = "COM1";
    if (!reg->record(before).ok())
        fail("recording failed");

    const auto decoded = decodeExport(file);
    const auto first = reg->importData(file);
    if (first.ok() != decoded.ok())
        fail("the import and the decoder disagree about the file");
    if (!first.ok()) {
        if (versionCount(*reg) != 1 || !reg->installations({}).value.empty())
            fail("a refused file changed the register");
        return 0;
    }
    const std::size_t after = versionCount(*reg);
    const auto second = reg->importData(file);
    if (!second.ok() || second.value.versionsAdded != 0 || second.value.installationsAdded != 0 ||
        versionCount(*reg) != after)
        fail("importing the same file twice added something");
    const auto exported = reg->exportData(0);
    if (!exported.ok())
        fail("export failed");
    const auto back = decodeExport(exported.value);
    if (!back.ok() || back.value.versions.size() != after)
        fail("the export does not read back");
    return 0;
}
