// Opening a damaged register file: the bytes of a small sound register,
// changed, written to a file of their own, opened as the command line opens
// it for a command that only reads, and read by each of those commands
// (installations, history, version, export).
//
// Checked: nothing crashes or leaks; an empty file never becomes a register;
// a register opened with a notice of damage refuses every change; and the
// file is never changed by a command that only reads.
#include "register.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

using namespace trellikon::reg;
namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "register open: %s\n", what);
    std::abort();
}

fs::path g_folder;

void removeFolder() {
    std::error_code ec;
    fs::remove_all(g_folder, ec);
}

const fs::path& folder() {
    if (g_folder.empty()) {
        g_folder = fs::temp_directory_path() /
                   ("fuzz_register_open-" + std::to_string(static_cast<unsigned>(std::rand())) +
                    "-" + std::to_string(reinterpret_cast<std::uintptr_t>(&g_folder)));
        fs::create_directories(g_folder);
        std::atexit(removeFolder);
    }
    return g_folder;
}

std::string contentOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path file = folder() / "rejestr.sqlite";
    std::error_code ec;
    for (const char* end : {"", "-wal", "-shm", "-journal"})
        fs::remove(file.string() + end, ec);
    {
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const std::string before = contentOf(file);

    OpenOptions options;
    options.dailyCopy = false;
    options.readOnly = true;
    options.busyTimeoutMs = 0;
    options.checkWhole = size % 2 == 0; // both ways of looking at a file
    std::string error;
    {
        auto opened = openRegister(file.string(), options);
        error = opened.failure.message;
        const auto r = std::move(opened.value);
        if (!r) {
            if (error.empty())
                fail("no register and no reason");
        } else {
            if (size == 0)
                fail("an empty file became a register");
            r->installations({});
            r->installations("512345678");
            r->installations("kow");
            const auto h = r->history({});
            if (h.ok()) {
                std::size_t n = 0;
                for (const VersionInfo& v : h.value) {
                    if (++n > 64)
                        break;
                    r->version(v.id);
                }
                if (!h.value.empty())
                    r->history({HistoryFilter::OfInstallation, h.value.front().installationId, 5});
            }
            r->exportData(0);
            if (!r->notice().empty() && r->notice().find("uszkodzony") != std::string::npos) {
                if (r->writable())
                    fail("a damaged register stays writable");
                if (r->createInstallation("Nowa", "", "").ok())
                    fail("a damaged register took a change");
            }
        }
    }
    if (contentOf(file) != before)
        fail("a command that only reads changed the file");
    return 0;
}
