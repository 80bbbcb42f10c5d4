#pragma once
// The file version record that the build stamps into an executable (scoutor_stamp_version in
// cmake/ScoutorVersion.cmake): an ELF note owned by "Scoutor", type 1, holding the four 16-bit
// numbers of the file version. Read back from the executable file itself.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace scoutor {

using TFileVersion = std::array<std::uint16_t, 4>;

// The record of the ELF file at `path`; none when the file cannot be read, is not a 64-bit
// ELF file of this machine's byte order, or carries no record.
std::optional<TFileVersion> ReadFileVersion(const std::string& path = "/proc/self/exe");

// "%d.%d.%d build %d" over the four numbers; empty without a record.
std::string VersionText(const std::optional<TFileVersion>& version);

}  // namespace scoutor
