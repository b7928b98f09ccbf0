// The template load of any file, and what the command-line companion shows of
// it. Input: the file's whole content.
//
// Checked: the load succeeds with the first 4096 bytes, the rest of the image
// 0x1A, and the file's size; `show` and `show --json` of the image are well
// formed UTF-8 with no control character but the line end (a terminal must
// never receive one from a file); an image compared with itself is equal.
#include "settings_comparison.h"
#include "template_file.h"
#include "template_view.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

using namespace trellikon;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "template load: %s\n", what);
    std::abort();
}

const std::string& scratchPath() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string p = std::string(dir && *dir ? dir : "/tmp") + "/trellikon-fuzz-XXXXXX";
        const int fd = ::mkstemp(p.data());
        if (fd < 0)
            fail("cannot make a scratch file");
        ::close(fd);
        std::atexit([] { ::unlink(scratchPath().c_str()); });
        return p;
    }();
    return path;
}

// Well-formed UTF-8 without C0 (but the line end), DEL or C1 control characters.
bool terminalSafe(std::string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x20 && b != '\n')
            return false;
        if (b == 0x7F)
            return false;
        if (b < 0x80)
            continue;
        const std::size_t len = (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > s.size())
            return false;
        char32_t cp = len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        for (std::size_t k = 1; k < len; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c >> 6) != 2)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        const char32_t least = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp <= 0x9F)
            return false;
        i += len - 1;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = scratchPath();
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        fail("cannot open the scratch file");
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            fail("cannot write the scratch file");
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);

    const TemplateLoad load = loadTemplate(path);
    if (!load.ok)
        fail("a regular file did not load");
    if (load.fileSize != size)
        fail("wrong file size");
    const std::size_t kept = std::min(size, load.bytes.size());
    if (std::memcmp(load.bytes.data(), data, kept) != 0)
        fail("the image differs from the file");
    for (std::size_t i = kept; i < load.bytes.size(); ++i)
        if (load.bytes[i] != 0x1A)
            fail("the bytes past a short file are not 0x1A");

    const auto in = inspector::inspect(load.bytes);
    if (!terminalSafe(inspector::renderShow(in)))
        fail("show is not terminal-safe");
    if (!terminalSafe(inspector::renderJson(in)))
        fail("JSON is not terminal-safe");
    if (!comparison::compareImages(load.bytes, load.bytes).equal())
        fail("an image differs from itself");
    return 0;
}
