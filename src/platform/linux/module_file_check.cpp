#include "platform/linux/module_file_check.hpp"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace tolva {
namespace {

// Reads exactly `size` bytes at `offset`; false when the file has fewer.
bool readAt(int fd, void* into, std::size_t size, std::uint64_t offset) {
  auto* bytes = static_cast<char*>(into);
  while (size > 0) {
    ssize_t got = ::pread(fd, bytes, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<std::size_t>(got);
    offset += static_cast<std::uint64_t>(got);
  }
  return true;
}

// Whether [offset, offset + length) lies within `fileSize`, without overflow.
bool within(std::uint64_t offset, std::uint64_t length, std::uint64_t fileSize) {
  return offset <= fileSize && length <= fileSize - offset;
}

std::optional<std::string> elfProblem(int fd, std::uint64_t fileSize) {
  Elf64_Ehdr header{};
  if (!readAt(fd, &header, sizeof header, 0)) return "it is too short to be a shared object";
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) return "it is not an ELF file";
  if (header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_phentsize != sizeof(Elf64_Phdr)) {
    return "it is not a 64-bit shared object";
  }
  std::uint64_t tableSize = std::uint64_t{header.e_phnum} * sizeof(Elf64_Phdr);
  if (!within(header.e_phoff, tableSize, fileSize)) return "it is cut short: its program headers lie past its end";
  std::vector<Elf64_Phdr> segments(header.e_phnum);
  if (!readAt(fd, segments.data(), tableSize, header.e_phoff)) return "it could not be read";
  for (const Elf64_Phdr& segment : segments) {
    if (!within(segment.p_offset, segment.p_filesz, fileSize)) {
      return "it is cut short: a segment ends past its " + std::to_string(fileSize) + " bytes";
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> moduleFileProblem(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;  // missing or unreadable: dlopen says which
  struct stat info {};
  std::optional<std::string> problem;
  if (::fstat(fd, &info) != 0) {
    problem = std::string("it could not be examined: ") + std::strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    problem = "it is not a regular file";
  } else {
    problem = elfProblem(fd, static_cast<std::uint64_t>(info.st_size));
  }
  ::close(fd);
  return problem;
}

}  // namespace tolva
