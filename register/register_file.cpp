#include "register_file.h"

#include "cp1250.h"
#include "version_text.h"

#include <algorithm>

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

// The least an installation and a version take in the file.
constexpr std::uint64_t kLeastInstallation = 3 * 4;
constexpr std::uint64_t kLeastVersion = 4 + 6 * 4 + layout::kImageSize + 32;
// How much of the file is held at a time.
constexpr std::size_t kChunk = 64 * 1024;

const char* const kNotAnExport = "to nie jest plik eksportu rejestru instalacji";
const char* const kChecksum = "plik jest uszkodzony (suma kontrolna się nie zgadza)";
const char* const kChanged = "plik zmienił się w czasie odczytu";

// "1 143 480 062", as Polish writes a large number.
std::string grouped(std::uint64_t n) {
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ' ';
        out += digits[i];
    }
    return out;
}

std::string bytesText(std::uint64_t n) {
    const std::uint64_t ones = n % 10, tens = n % 100;
    const char* word = n == 1                                               ? "bajt"
                       : ones >= 2 && ones <= 4 && (tens < 12 || tens > 14) ? "bajty"
                                                                            : "bajtów";
    return grouped(n) + " " + word;
}

} // namespace

long long ExportText::read(std::uint8_t* buffer, std::size_t n) {
    const std::size_t k = std::min(n, text_.size() - at_);
    std::copy_n(text_.data() + at_, k, reinterpret_cast<char*>(buffer));
    at_ += k;
    return static_cast<long long>(k);
}

ExportReader::ExportReader(ExportBytes& bytes, Clock::time_point now)
    : bytes_(bytes), latestTime_(utcTime(now + kMostAhead)), now_(utcTime(now)) {}

bool ExportReader::fill() {
    if (ended_ || readFailed_)
        return false;
    if (buffer_.empty())
        buffer_.resize(kChunk);
    const long long got = bytes_.read(buffer_.data(), buffer_.size());
    if (got < 0)
        readFailed_ = true;
    else if (got == 0)
        ended_ = true;
    at_ = 0;
    end_ = got > 0 ? static_cast<std::size_t>(got) : 0;
    return got > 0;
}

bool ExportReader::raw(std::uint8_t* out, std::size_t n) {
    while (n > 0) {
        if (at_ == end_ && !fill())
            return false;
        const std::size_t k = std::min(n, end_ - at_);
        if (out) {
            std::copy_n(buffer_.data() + at_, k, out);
            out += k;
        }
        hash_.add(buffer_.data() + at_, k);
        at_ += k;
        consumed_ += k;
        n -= k;
    }
    return true;
}

bool ExportReader::take(std::uint8_t* out, std::size_t n) {
    return n <= body_ - consumed_ && raw(out, n);
}

bool ExportReader::u32(std::uint32_t& v) {
    std::uint8_t b[4];
    if (!take(b, 4))
        return false;
    v = 0;
    for (int i = 0; i < 4; ++i)
        v |= std::uint32_t{b[i]} << (8 * i);
    return true;
}

bool ExportReader::text(std::string& out) {
    std::uint32_t n = 0;
    if (!u32(n) || n > kLongestText || n > body_ - consumed_)
        return false;
    out.resize(n);
    return take(reinterpret_cast<std::uint8_t*>(out.data()), n) && validUtf8(out);
}

bool ExportReader::refuse(std::string why) {
    problem_ = std::move(why);
    return false;
}

std::string ExportReader::header() {
    const std::uint64_t size = bytes_.size();
    std::uint8_t magic[kExportMagic.size()];
    if (size < kExportMagic.size())
        return kNotAnExport;
    if (!raw(magic, sizeof magic))
        return readFailed_ ? "nie można odczytać pliku: " + bytes_.failure() : kChanged;
    if (std::string_view(reinterpret_cast<const char*>(magic), sizeof magic) != kExportMagic)
        return kNotAnExport;
    if (size < kExportHeader + 32)
        return "plik jest uszkodzony (niepełny)";
    body_ = size - 32;
    std::uint32_t format = 0;
    if (!u32(format))
        return kChanged;
    if (format != kExportFormat)
        return "plik ma format " + std::to_string(format) +
               ", którego ta wersja programu nie zna (zna format " + std::to_string(kExportFormat) +
               ")";
    if (size > kLargestExport)
        return "plik jest za duży (" + bytesText(size) + "): eksport rejestru ma najwyżej " +
               grouped(kMostVersions) + " wersji i " + grouped(kMostInstallations) +
               " instalacji, czyli najwyżej " + bytesText(kLargestExport);
    if (!u32(installations_) || !u32(versions_))
        return kChanged;
    if (installations_ > kMostInstallations || versions_ > kMostVersions)
        return "plik podaje więcej wersji (" + grouped(versions_) + ") albo instalacji (" +
               grouped(installations_) + "), niż może mieć eksport rejestru: najwyżej " +
               grouped(kMostVersions) + " wersji i " + grouped(kMostInstallations) + " instalacji";
    // What the counts need against what the file holds, both ways.
    const std::uint64_t left = body_ - consumed_;
    if (installations_ * kLeastInstallation + versions_ * kLeastVersion > left ||
        installations_ * kLargestInstallation + versions_ * kLargestVersion < left)
        return "plik jest uszkodzony (liczby instalacji i wersji)";
    return {};
}

bool ExportReader::next(ExportInstallation& i) {
    const std::string which = "instalacja " + std::to_string(++installationsRead_);
    if (installationsRead_ > installations_ || !text(i.name) || !text(i.notes) ||
        !text(i.devicePhone))
        return refuse("plik jest uszkodzony (" + which + ")");
    // The register's own rules, so that nothing comes in that the program
    // could not have made, nor reach afterwards.
    if (const std::string e = installationProblem(i.name, i.notes, i.devicePhone); !e.empty())
        return refuse(which + " w pliku: " + e);
    if (!nameSet_.insert(i.name).second)
        return refuse("plik jest uszkodzony (nazwa " + which + ")");
    names_.push_back(i.name);
    return true;
}

bool ExportReader::next(ExportVersion& v) {
    const std::string which = "wersja " + std::to_string(++versionsRead_);
    std::uint32_t owner = 0;
    Digest stored{};
    const bool read = installationsRead_ == installations_ && versionsRead_ <= versions_ &&
                      u32(owner) && text(v.timeUtc) && text(v.kind) && text(v.port) &&
                      text(v.programVersion) && text(v.summary) &&
                      take(v.bytes.data(), v.bytes.size()) && take(stored.data(), stored.size());
    if (!read || owner > installations_ || !knownKind(v.kind) || !wellFormedTime(v.timeUtc) ||
        v.port.size() > kLongestPort || v.programVersion.size() > kLongestProgramVersion ||
        v.summary.size() > kLongestSummary || stored != sha256(v.bytes.data(), v.bytes.size()))
        return refuse("plik jest uszkodzony (" + which + ")");
    v.installation = owner;
    if (v.timeUtc > latestTime_)
        return refuse(
            which + " w pliku (" +
            (owner == 0 ? std::string(kUnassigned) : "instalacja „" + names_[owner - 1] + "”") +
            ") ma datę " + shortTime(v.timeUtc) +
            " (UTC), o ponad dobę późniejszą niż zegar tego komputera (" + shortTime(now_) +
            "); sprawdź zegar komputera, z którego pochodzi plik");
    return true;
}

std::string ExportReader::wholeFileCheck() {
    if (!raw(nullptr, body_ - consumed_))
        return readFailed_ ? "nie można odczytać pliku: " + bytes_.failure() : kChanged;
    const Digest whole = hash_.finish();
    Digest stored{};
    std::size_t got = 0;
    while (got < stored.size()) {
        if (at_ == end_ && !fill())
            return readFailed_ ? "nie można odczytać pliku: " + bytes_.failure() : kChanged;
        const std::size_t k = std::min(stored.size() - got, end_ - at_);
        std::copy_n(buffer_.data() + at_, k, stored.data() + got);
        at_ += k;
        got += k;
    }
    if (stored != whole)
        return kChecksum;
    // The size was taken when the file was opened: anything after it came later.
    if (at_ != end_ || fill())
        return kChanged;
    return readFailed_ ? "nie można odczytać pliku: " + bytes_.failure() : std::string();
}

std::string ExportReader::refusal() {
    if (readFailed_)
        return "nie można odczytać pliku: " + bytes_.failure();
    const std::string whole = wholeFileCheck();
    return whole.empty() ? problem_ : whole;
}

std::string ExportReader::finish() {
    const bool allRead = installationsRead_ == installations_ && versionsRead_ == versions_;
    const bool bodyEnds = consumed_ == body_;
    if (const std::string whole = wholeFileCheck(); !whole.empty())
        return whole;
    if (!allRead)
        return "plik jest uszkodzony (liczby instalacji i wersji)";
    return bodyEnds ? std::string() : "plik jest uszkodzony (dane po końcu)";
}

std::string checkExport(ExportBytes& bytes, ExportReader::Clock::time_point now) {
    ExportReader in(bytes, now);
    if (std::string e = in.header(); !e.empty())
        return e;
    ExportInstallation i;
    for (std::uint32_t k = 0; k < in.installations(); ++k)
        if (!in.next(i))
            return in.refusal();
    ExportVersion v;
    for (std::uint32_t k = 0; k < in.versions(); ++k)
        if (!in.next(v))
            return in.refusal();
    return in.finish();
}

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

Result<ExportContent> decodeExport(std::string_view file, ExportReader::Clock::time_point now) {
    Result<ExportContent> r;
    ExportText bytes(file);
    ExportReader in(bytes, now);
    const auto refuse = [&r](std::string why) {
        r.value = {};
        r.failure = registerFailure(std::move(why));
        return r;
    };
    if (std::string e = in.header(); !e.empty())
        return refuse(e);
    for (std::uint32_t k = 0; k < in.installations(); ++k) {
        ExportInstallation i;
        if (!in.next(i))
            return refuse(in.refusal());
        r.value.installations.push_back(std::move(i));
    }
    for (std::uint32_t k = 0; k < in.versions(); ++k) {
        ExportVersion v;
        if (!in.next(v))
            return refuse(in.refusal());
        r.value.versions.push_back(std::move(v));
    }
    if (std::string e = in.finish(); !e.empty())
        return refuse(e);
    return r;
}

} // namespace trellikon::reg
