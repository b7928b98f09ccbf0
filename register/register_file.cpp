#include "register_file.h"

#include "cp1250.h"
#include "sha256.h"
#include "version_text.h"

#include <set>

namespace trellikon::reg {

namespace {

void putU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>(v >> (8 * i) & 0xFF);
}

void putText(std::string& out, const std::string& s) {
    putU32(out, static_cast<std::uint32_t>(s.size()));
    out += s;
}

void putBytes(std::string& out, const std::uint8_t* p, std::size_t n) {
    out.append(reinterpret_cast<const char*>(p), n);
}

// Reads forward through a file whose every length is checked against what is left.
class Reader {
  public:
    explicit Reader(std::string_view s) : s_(s) {}
    std::size_t left() const { return s_.size() - at_; }
    bool u32(std::uint32_t& v) {
        if (left() < 4)
            return false;
        v = 0;
        for (int i = 0; i < 4; ++i)
            v |= std::uint32_t{static_cast<unsigned char>(s_[at_ + i])} << (8 * i);
        at_ += 4;
        return true;
    }
    bool text(std::string& out) {
        std::uint32_t n = 0;
        if (!u32(n) || n > kLongestText || n > left())
            return false;
        out.assign(s_.substr(at_, n));
        at_ += n;
        return validUtf8(out);
    }
    bool bytes(std::uint8_t* p, std::size_t n) {
        if (n > left())
            return false;
        for (std::size_t i = 0; i < n; ++i)
            p[i] = static_cast<std::uint8_t>(s_[at_ + i]);
        at_ += n;
        return true;
    }

  private:
    std::string_view s_;
    std::size_t at_ = 0;
};

// The least an installation and a version take in the file.
constexpr std::size_t kLeastInstallation = 3 * 4;
constexpr std::size_t kLeastVersion = 4 + 6 * 4 + layout::kImageSize + 32;

} // namespace

std::string encodeExport(const ExportContent& content) {
    std::string out(kExportMagic);
    putU32(out, kExportFormat);
    putU32(out, static_cast<std::uint32_t>(content.installations.size()));
    putU32(out, static_cast<std::uint32_t>(content.versions.size()));
    for (const ExportInstallation& i : content.installations) {
        putText(out, i.name);
        putText(out, i.notes);
        putText(out, i.devicePhone);
    }
    for (const ExportVersion& v : content.versions) {
        putU32(out, static_cast<std::uint32_t>(v.installation));
        for (const std::string* s : {&v.timeUtc, &v.kind, &v.port, &v.programVersion, &v.summary})
            putText(out, *s);
        putBytes(out, v.bytes.data(), v.bytes.size());
        const Digest d = sha256(v.bytes.data(), v.bytes.size());
        putBytes(out, d.data(), d.size());
    }
    const Digest whole = sha256(reinterpret_cast<const std::uint8_t*>(out.data()), out.size());
    putBytes(out, whole.data(), whole.size());
    return out;
}

Result<ExportContent> decodeExport(std::string_view file) {
    Result<ExportContent> r;
    const auto refuse = [&r](const std::string& why) {
        r.value = {};
        r.error = why;
        return r;
    };
    if (file.substr(0, kExportMagic.size()) != kExportMagic)
        return refuse("to nie jest plik eksportu rejestru instalacji");
    if (file.size() < kExportMagic.size() + 12 + 32)
        return refuse("plik jest uszkodzony (niepełny)");
    Reader head(file.substr(kExportMagic.size()));
    std::uint32_t format = 0;
    head.u32(format);
    if (format != kExportFormat)
        return refuse("plik ma format " + std::to_string(format) +
                      ", którego ta wersja programu nie zna (zna format " +
                      std::to_string(kExportFormat) + ")");
    const std::string_view body = file.substr(0, file.size() - 32);
    const Digest whole = sha256(reinterpret_cast<const std::uint8_t*>(body.data()), body.size());
    if (file.substr(body.size()) !=
        std::string_view(reinterpret_cast<const char*>(whole.data()), whole.size()))
        return refuse("plik jest uszkodzony (suma kontrolna się nie zgadza)");

    Reader in(body.substr(kExportMagic.size() + 4));
    std::uint32_t installations = 0, versions = 0;
    if (!in.u32(installations) || !in.u32(versions) ||
        installations > in.left() / kLeastInstallation || versions > in.left() / kLeastVersion)
        return refuse("plik jest uszkodzony (liczby instalacji i wersji)");
    ExportContent& c = r.value;
    std::set<std::string> names;
    for (std::uint32_t k = 0; k < installations; ++k) {
        ExportInstallation i;
        if (!in.text(i.name) || !in.text(i.notes) || !in.text(i.devicePhone))
            return refuse("plik jest uszkodzony (instalacja " + std::to_string(k + 1) + ")");
        if (i.name.empty() || !names.insert(i.name).second)
            return refuse("plik jest uszkodzony (nazwa instalacji " + std::to_string(k + 1) + ")");
        c.installations.push_back(std::move(i));
    }
    for (std::uint32_t k = 0; k < versions; ++k) {
        ExportVersion v;
        std::uint32_t owner = 0;
        Digest stored{};
        const bool read = in.u32(owner) && in.text(v.timeUtc) && in.text(v.kind) &&
                          in.text(v.port) && in.text(v.programVersion) && in.text(v.summary) &&
                          in.bytes(v.bytes.data(), v.bytes.size()) &&
                          in.bytes(stored.data(), stored.size());
        if (!read || owner > installations || !knownKind(v.kind) || !wellFormedTime(v.timeUtc) ||
            stored != sha256(v.bytes.data(), v.bytes.size()))
            return refuse("plik jest uszkodzony (wersja " + std::to_string(k + 1) + ")");
        v.installation = owner;
        c.versions.push_back(std::move(v));
    }
    if (in.left() != 0)
        return refuse("plik jest uszkodzony (dane po końcu)");
    return r;
}

} // namespace trellikon::reg
