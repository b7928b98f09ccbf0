// The register's import of any file.
//
// A mutated file nearly always fails its SHA-256 checks, which would leave the
// parser behind them unreached: so the checks are mended first (each version's
// SHA-256 over its bytes, as far as the file parses, then the whole file's),
// and the file is read in pieces of a size the input gives, so that every
// record meets the edge of a piece somewhere.
//
// Checked: a file is taken whole or refused whole (a refused file leaves the
// register as it was); a taken file imported again adds nothing; what the
// register then exports reads back with the same versions; and the pieces
// read never change what is decided.
#include "register.h"
#include "register_file.h"
#include "sha256.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace trellikon;
using namespace trellikon::reg;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "register import: %s\n", what);
    std::abort();
}

std::size_t versionCount(Register& r) {
    const auto h = r.history({});
    if (!h.ok())
        fail("history failed");
    return h.value.size();
}

// Walks the file as the format lays it out, as far as it goes.
class Walk {
  public:
    explicit Walk(std::string& s) : s_(s) {}
    bool skip(std::size_t n) {
        if (n > s_.size() - at_)
            return false;
        at_ += n;
        return true;
    }
    bool u32(std::uint32_t& v) {
        if (s_.size() - at_ < 4)
            return false;
        v = 0;
        for (int i = 0; i < 4; ++i)
            v |= std::uint32_t{static_cast<unsigned char>(s_[at_ + i])} << (8 * i);
        at_ += 4;
        return true;
    }
    bool text() {
        std::uint32_t n = 0;
        return u32(n) && skip(n);
    }
    std::size_t at() const { return at_; }

  private:
    std::string& s_;
    std::size_t at_ = 0;
};

// Puts right every SHA-256 the file carries, as far as its records parse.
void mendChecksums(std::string& file) {
    if (file.size() < kExportHeader + 32)
        return;
    std::string body = file.substr(0, file.size() - 32);
    Walk w(body);
    std::uint32_t format = 0, installations = 0, versions = 0;
    bool ok =
        w.skip(kExportMagic.size()) && w.u32(format) && w.u32(installations) && w.u32(versions);
    for (std::uint32_t k = 0; ok && k < installations; ++k)
        ok = w.text() && w.text() && w.text();
    for (std::uint32_t k = 0; ok && k < versions; ++k) {
        std::uint32_t owner = 0;
        ok = w.u32(owner) && w.text() && w.text() && w.text() && w.text() && w.text();
        const std::size_t bytes = w.at();
        ok = ok && w.skip(layout::kImageSize + 32);
        if (ok) {
            const Digest d = sha256(reinterpret_cast<const std::uint8_t*>(body.data() + bytes),
                                    layout::kImageSize);
            std::copy(d.begin(), d.end(),
                      body.begin() + static_cast<long>(bytes + layout::kImageSize));
        }
    }
    const Digest whole = sha256(reinterpret_cast<const std::uint8_t*>(body.data()), body.size());
    file = body + std::string(reinterpret_cast<const char*>(whole.data()), whole.size());
}

// The file in pieces of at most `piece` bytes at a time.
class Pieces final : public ExportBytes {
  public:
    Pieces(std::string_view s, std::size_t piece) : text_(s), piece_(piece) {}
    std::uint64_t size() const override { return text_.size(); }
    long long read(std::uint8_t* buffer, std::size_t n) override {
        return text_.read(buffer, std::min(n, piece_));
    }
    bool rewind() override { return text_.rewind(); }

  private:
    ExportText text_;
    std::size_t piece_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string mended(reinterpret_cast<const char*>(data), size);
    mendChecksums(mended);
    const std::string_view file = mended;
    OpenOptions options;
    options.dailyCopy = false;
    const auto reg = openRegister(":memory:", options).value;
    if (!reg)
        fail("an in-memory register did not open");
    // Something already there, which a refused file must leave alone.
    NewVersion before;
    before.bytes.fill(0x1A);
    before.port = "COM1";
    if (!reg->record(before).ok())
        fail("recording failed");

    const auto decoded = decodeExport(file);
    // Any length of piece from 1 byte to the whole, chosen by the input.
    Pieces pieces(file, 1 + (size * 7919) % (size + 1));
    const auto first = reg->importFrom(pieces);
    if (first.ok() != decoded.ok())
        fail("the import and the decoder disagree about the file");
    if (!first.ok()) {
        if (first.failure.message != decoded.failure.message)
            fail("reading in pieces changed the reason");
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
