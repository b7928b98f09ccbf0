#pragma once
// The export file that moves installations to another computer.
//
//   "TRELLIKON-REJESTR\n"  18 bytes, names the file
//   u32 format             1; a newer format is refused, not guessed at
//   u32 installations, u32 versions
//   installation           name, notes, device phone (strings)
//   version                u32 installation (1-based; 0 unassigned), time, kind,
//                          port, program version, summary (strings), the 4096
//                          bytes, their SHA-256
//   SHA-256 of everything before it
//
// Numbers are little-endian; a string is a u32 length and that many bytes of
// UTF-8. The file is read front to back a record at a time, so that a file
// of any size takes little memory, and its size is judged before anything
// else is read. The whole file is checked before anything of it is used, so
// that a damaged or foreign file is refused as a whole.

#include "file_system.h"
#include "register_types.h"
#include "sha256.h"

#include <chrono>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace trellikon::reg {

inline constexpr std::string_view kExportMagic = "TRELLIKON-REJESTR\n";
inline constexpr std::uint32_t kExportFormat = 1;
// Longest string the file may hold (notes are the longest).
inline constexpr std::uint32_t kLongestText = kLongestNotes;

// What one file may hold: a register's versions, and its installations, which
// are far fewer. The longest a version's texts may be are the register's
// columns'; its time has one length.
inline constexpr std::uint32_t kMostVersions = 100'000;
inline constexpr std::uint32_t kMostInstallations = 10'000;
inline constexpr std::size_t kLongestKind = 40;
inline constexpr std::size_t kLongestPort = 200;
inline constexpr std::size_t kLongestProgramVersion = 40;
inline constexpr std::size_t kLongestSummary = 400;
inline constexpr std::size_t kTimeLength = 24; // "YYYY-MM-DDTHH:MM:SS.mmmZ"
// The most an installation and a version take in the file, and so the largest
// file an export can be (about 1.1 GB); anything larger is refused unread.
inline constexpr std::uint64_t kLargestInstallation =
    3 * 4 + kLongestName + kLongestNotes + kLongestDevicePhone;
inline constexpr std::uint64_t kLargestVersion = 4 + 5 * 4 + kTimeLength + kLongestKind +
                                                 kLongestPort + kLongestProgramVersion +
                                                 kLongestSummary + layout::kImageSize + 32;
inline constexpr std::uint64_t kExportHeader = kExportMagic.size() + 3 * 4;
inline constexpr std::uint64_t kLargestExport = kExportHeader +
                                                kMostInstallations * kLargestInstallation +
                                                kMostVersions * kLargestVersion + 32;

// A version whose time is more than this ahead of the computer's clock is
// refused: once in, it would be every later visit's "latest".
inline constexpr std::chrono::hours kMostAhead{24};

struct ExportInstallation {
    std::string name;
    std::string notes;
    std::string devicePhone;
};

struct ExportVersion {
    std::size_t installation = 0; // 1-based index into the installations; 0 unassigned
    std::string timeUtc;
    std::string kind;
    std::string port;
    std::string programVersion;
    std::string summary;
    Bytes bytes{};
};

struct ExportContent {
    std::vector<ExportInstallation> installations;
    std::vector<ExportVersion> versions;
};

// An export file's bytes, read front to back, and again from the start.
class ExportBytes {
  public:
    virtual ~ExportBytes() = default;
    // The file's length as found when it was opened.
    virtual std::uint64_t size() const = 0;
    // Up to n bytes: how many, 0 at the end, a negative number when reading
    // failed (failure() says why).
    virtual long long read(std::uint8_t* buffer, std::size_t n) = 0;
    // Back to the first byte; false when not possible.
    virtual bool rewind() = 0;
    virtual std::string failure() const { return {}; }
};

// An export file held in memory.
class ExportText final : public ExportBytes {
  public:
    explicit ExportText(std::string_view text) : text_(text) {}
    std::uint64_t size() const override { return text_.size(); }
    long long read(std::uint8_t* buffer, std::size_t n) override;
    bool rewind() override {
        at_ = 0;
        return true;
    }

  private:
    std::string_view text_;
    std::size_t at_ = 0;
};

// An export file on disk, opened as readRegularFile opens a file (a folder,
// a device or a pipe refused unopened); nothing is read until asked.
class ExportFile final : public ExportBytes {
  public:
    Failure open(const std::string& path) { return file_.open(path); }
    std::uint64_t size() const override { return file_.size(); }
    long long read(std::uint8_t* buffer, std::size_t n) override { return file_.read(buffer, n); }
    bool rewind() override { return file_.rewind(); }
    std::string failure() const override { return file_.failure().message; }

  private:
    FileReader file_;
};

// Reads an export file front to back, one record at a time, each checked on
// its own as it comes (its texts, its version's SHA-256, a time not ahead of
// the computer's clock), the whole file's SHA-256 taken on the way. Every
// reason is in Polish.
class ExportReader {
  public:
    using Clock = std::chrono::system_clock;
    // `now`: the computer's clock, which the versions' times are held against.
    explicit ExportReader(ExportBytes& bytes, Clock::time_point now = Clock::now());

    // The file's name, its format, its size (a file larger than any export
    // is refused here, unread) and the counts against the size. Empty when
    // reading may go on, else the reason.
    std::string header();
    std::uint32_t installations() const { return installations_; }
    std::uint32_t versions() const { return versions_; }
    // The next installation, then the next version; false when the file is
    // refused there, and refusal() says why.
    bool next(ExportInstallation& out);
    bool next(ExportVersion& out);
    // After the last version: the file's own SHA-256 and its end. Empty when
    // the whole file is sound, else the reason.
    std::string finish();
    // Why the file is refused after next() said false. A record that does not
    // read is the file's damage, unless the file's own SHA-256 holds: the
    // rest of the file is read to tell which.
    std::string refusal();

  private:
    bool fill();
    bool raw(std::uint8_t* out, std::size_t n);
    bool take(std::uint8_t* out, std::size_t n);
    bool u32(std::uint32_t& v);
    bool text(std::string& out);
    bool refuse(std::string why);
    // The rest of the body through the hash, then the stored SHA-256: empty
    // when they agree.
    std::string wholeFileCheck();

    ExportBytes& bytes_;
    std::string latestTime_; // the latest time a version may have
    std::string now_;
    std::vector<std::uint8_t> buffer_;
    std::size_t at_ = 0, end_ = 0;
    std::uint64_t body_ = 0;     // the bytes before the file's SHA-256
    std::uint64_t consumed_ = 0; // bytes read so far, all of them hashed
    Sha256 hash_;
    bool readFailed_ = false;
    bool ended_ = false; // the file ended before its size
    std::uint32_t installations_ = 0, versions_ = 0;
    std::uint32_t installationsRead_ = 0, versionsRead_ = 0;
    std::vector<std::string> names_;
    std::set<std::string> nameSet_;
    std::string problem_;
};

// Reads the whole file through once, keeping nothing of it: empty when it is
// sound from its header to its SHA-256, else the reason.
std::string checkExport(ExportBytes& bytes,
                        ExportReader::Clock::time_point now = ExportReader::Clock::now());

std::string encodeExport(const ExportContent& content);
// The content, or the reason the file is refused (in Polish).
Result<ExportContent>
decodeExport(std::string_view file,
             ExportReader::Clock::time_point now = ExportReader::Clock::now());

} // namespace trellikon::reg
