#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

// A file held open for reading from its check to its start, so that what was checked is what runs.
//
// Windows: nobody else may write, rename or delete the file while it is held (it is opened sharing reading only), and
// an opening fails while someone else has it open for writing. POSIX cannot deny any of that: locks there bind only
// those who ask for them, and anyone with write permission may still write into the file. What POSIX does keep is the
// file itself: a rename over the path or an unlink leaves the open file as it was, and the program started is the
// file held, not whatever the path names by then (program_run.h). Writes in place are left to the folder: the
// updater keeps its files in a folder only its user may enter.
namespace platform {

class HeldFile {
 public:
  HeldFile() = default;
  ~HeldFile();
  HeldFile(HeldFile&& other) noexcept;
  HeldFile& operator=(HeldFile&& other) noexcept;
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  // Whether others are kept from writing, renaming and deleting the file while it is held (Windows only).
  static bool DeniesOthers();

  // Holds file, which must be a regular file and not a link: through a link the target would be held while the link
  // could be pointed elsewhere. False, holding nothing, otherwise.
  bool Open(const std::filesystem::path& file);
  void Close();
  bool IsOpen() const { return m_file != kNoFile; }
  const std::filesystem::path& Path() const { return m_path; }
  // The open file as the OS names it (a HANDLE on Windows, a descriptor elsewhere), for starting it as a program.
  std::intptr_t Native() const { return m_file; }

  // Reads up to buffer.size() bytes from offset on: how many were read, 0 past the end; nothing on a read error or
  // when nothing is held.
  std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<char> buffer) const;

 private:
  static constexpr std::intptr_t kNoFile = -1;

  std::filesystem::path m_path;
  std::intptr_t m_file = kNoFile;
};

}  // namespace platform
