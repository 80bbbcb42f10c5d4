#include "ui/VersionRecord.h"

#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace scoutor {

namespace {

constexpr char kOwner[] = "Scoutor";  // with its terminating zero, as the note stores it
constexpr std::uint32_t kFileVersionType = 1;

std::size_t Aligned4(std::size_t size) { return (size + 3) & ~std::size_t{3}; }

// Closes the descriptor on every way out.
struct TFile {
  int Descriptor;
  ~TFile() {
    if (Descriptor >= 0) close(Descriptor);
  }
  bool ReadAt(void* into, std::size_t size, off_t at) const {
    return pread(Descriptor, into, size, at) == static_cast<ssize_t>(size);
  }
};

std::optional<TFileVersion> FindInNotes(const std::vector<unsigned char>& notes) {
  std::size_t at = 0;
  while (at + sizeof(Elf64_Nhdr) <= notes.size()) {
    Elf64_Nhdr header;
    std::memcpy(&header, notes.data() + at, sizeof header);
    const std::size_t name = at + sizeof header;
    const std::size_t description = name + Aligned4(header.n_namesz);
    const std::size_t next = description + Aligned4(header.n_descsz);
    if (next > notes.size() || next <= at) return std::nullopt;
    if (header.n_type == kFileVersionType && header.n_namesz == sizeof kOwner &&
        std::memcmp(notes.data() + name, kOwner, sizeof kOwner) == 0 &&
        header.n_descsz == sizeof(TFileVersion)) {
      TFileVersion version;
      std::memcpy(version.data(), notes.data() + description, sizeof version);
      return version;
    }
    at = next;
  }
  return std::nullopt;
}

}  // namespace

std::optional<TFileVersion> ReadFileVersion(const std::string& path) {
  const TFile file{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.Descriptor < 0) return std::nullopt;
  Elf64_Ehdr elf;
  if (!file.ReadAt(&elf, sizeof elf, 0) || std::memcmp(elf.e_ident, ELFMAG, SELFMAG) != 0 ||
      elf.e_ident[EI_CLASS] != ELFCLASS64 || elf.e_ident[EI_DATA] != ELFDATA2LSB ||
      elf.e_shentsize != sizeof(Elf64_Shdr))
    return std::nullopt;
  for (unsigned i = 0; i < elf.e_shnum; ++i) {
    Elf64_Shdr section;
    if (!file.ReadAt(&section, sizeof section, static_cast<off_t>(elf.e_shoff + i * sizeof section)))
      return std::nullopt;
    // A version record is a few dozen bytes; larger note sections are someone else's.
    if (section.sh_type != SHT_NOTE || section.sh_size > 4096) continue;
    std::vector<unsigned char> notes(section.sh_size);
    if (!file.ReadAt(notes.data(), notes.size(), static_cast<off_t>(section.sh_offset))) continue;
    if (auto version = FindInNotes(notes)) return version;
  }
  return std::nullopt;
}

std::string VersionText(const std::optional<TFileVersion>& version) {
  if (!version) return "";
  char text[64];
  std::snprintf(text, sizeof text, "%d.%d.%d build %d", (*version)[0], (*version)[1],
                (*version)[2], (*version)[3]);
  return text;
}

}  // namespace scoutor
