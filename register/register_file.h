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
// UTF-8. The whole file is checked before anything of it is used, so a damaged
// or foreign file is refused as a whole.

#include "register_store.h"

#include <string>
#include <string_view>
#include <vector>

namespace trellikon::reg {

inline constexpr std::string_view kExportMagic = "TRELLIKON-REJESTR\n";
inline constexpr std::uint32_t kExportFormat = 1;
// Longest string the file may hold (notes are the longest).
inline constexpr std::uint32_t kLongestText = 64 * 1024;

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

std::string encodeExport(const ExportContent& content);
// The content, or the reason the file is refused (in Polish).
Result<ExportContent> decodeExport(std::string_view file);

} // namespace trellikon::reg
