#pragma once

#include "download/answer_rules.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Where a file streams in before it is whole, and the record beside it that lets the next try ask for the rest. Both
// live in a folder of the program's own (the download folder's hidden one, the updates folder), where no name a server
// sends can reach, named after the address the bytes come from: two papers of one local name never share one.
namespace download {

// How long a partial file is kept for a resume.
inline constexpr int kPartialFileDays = 7;

// The partial file of the file at `url`: sixteen lower-case hex digits of a hash of the address, then ".part"; its
// record beside it, ".resume" for ".part".
std::filesystem::path PartialPathFor(const std::filesystem::path& folder, std::string_view url);
std::filesystem::path RecordPathOf(const std::filesystem::path& partial);
// Whether a file name in such a folder is a partial file's or a record's.
bool IsPartialFileName(const std::filesystem::path& name);
bool IsRecordName(const std::filesystem::path& name);
// The record at that path; nothing when it is missing or is not such a record.
std::optional<ResumeRecord> ReadRecord(const std::filesystem::path& recordPath);

// Clears the folder of what interrupted downloads left behind: a partial file stays only while it can still be
// resumed (CanResume with its record's own address, at most kPartialFileDays old) and, when `wanted` is given, while
// it says the record's address is still wanted; every other partial file, and every record without its partial file,
// goes. Links are neither followed nor removed (the program never makes one), nor is any other file touched.
void RemoveStalePartials(const std::filesystem::path& folder, std::filesystem::file_time_type now,
                         const std::function<bool(const ResumeRecord&)>& wanted = {});

// One download's partial file and its record. The record is written only after the partial file was emptied for a
// new answer, and the bytes are flushed when the file is closed, before another try trusts them: whatever moment the
// process ends at, the record never speaks for bytes of another answer.
class PartialFile {
 public:
  PartialFile(std::filesystem::path folder, std::string url);
  ~PartialFile();
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  // Bytes the next request may ask the rest after (CanResume), 0 when nothing can be continued, and their record.
  std::int64_t Kept() const { return m_kept; }
  const ResumeRecord& Record() const { return m_record; }

  // Opens the file for an answer: after the kept bytes, or emptied with the answer's own record (none without a
  // validator). Makes the folder when missing, by one level only: a parent folder that went away fails. False when it
  // cannot be written.
  bool OpenToAppend();
  bool OpenAnew(const ResumeRecord& record);
  bool Write(const char* data, std::size_t size);
  // What the file holds now, kept bytes included.
  std::int64_t Size() const { return m_size; }
  // Flushes and closes; false when not every byte reached the file. What it holds is then worth a resume when its
  // record says so (Kept() tells it again).
  bool Close();
  // Renames the closed file to `target` (replacing any file of that name) and removes the record; false when it
  // cannot be put there.
  bool PutInPlace(const std::filesystem::path& target);
  // Drops the bytes and the record.
  void Discard();

 private:
  bool Open(std::ios::openmode mode);
  void RereadKept();
  void LeaveFolderIfEmpty();

  std::filesystem::path m_folder;
  std::string m_url;
  std::filesystem::path m_path;
  std::filesystem::path m_recordPath;
  ResumeRecord m_record;
  std::int64_t m_kept = 0;
  std::int64_t m_size = 0;
  std::ofstream m_out;
};

}  // namespace download
