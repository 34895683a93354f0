#include "download/partial_file.h"

#include "platform/hidden_file.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <system_error>
#include <utility>

namespace download {
namespace {

namespace fs = std::filesystem;

// Exact, so a clean-up can tell the program's own debris from anything else in its folder.
constexpr std::string_view kPartialSuffix = ".part";
constexpr std::string_view kRecordSuffix = ".resume";
// A record being written, renamed to its own name once whole; a process ended in between leaves it for the clean-up.
constexpr std::string_view kRecordInWritingSuffix = ".resume.new";
constexpr std::size_t kHashDigits = 16;
// A record is three short lines; a larger file is no record of ours.
constexpr std::size_t kMostARecordHolds = 8192;

// FNV-1a: a stable, well-spread number for an address, the same in every run and on every platform; 64 bits, so two
// files' addresses practically never share a partial file (and the record's address decides in the end).
std::uint64_t AddressHash(std::string_view url) {
  constexpr std::uint64_t kOffsetBasis = 14695981039346656037ull;
  constexpr std::uint64_t kPrime = 1099511628211ull;
  std::uint64_t hash = kOffsetBasis;
  for (const char byte : url) {
    hash ^= static_cast<unsigned char>(byte);
    hash *= kPrime;
  }
  return hash;
}

// Read in the system's own form of the name (UTF-16 on Windows): a neighbour's name that the narrow code page cannot
// write must not stop a clean-up.
bool IsOwnName(const fs::path& name, std::string_view suffix) {
  const fs::path::string_type text = name.filename().native();
  if (text.size() != kHashDigits + suffix.size()) return false;
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    if (text[kHashDigits + i] != static_cast<fs::path::value_type>(suffix[i])) return false;
  }
  return std::all_of(text.begin(), text.begin() + kHashDigits,
                     [](fs::path::value_type c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::int64_t FileSize(const fs::path& path) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  return error ? 0 : static_cast<std::int64_t>(size);
}

bool IsFreshEnough(const fs::path& file, fs::file_time_type now) {
  std::error_code error;
  const fs::file_time_type written = fs::last_write_time(file, error);
  // Whole days, as a calendar counts them: a partial file of the seventh day stays, whatever the hour.
  constexpr int kHoursPerDay = 24;
  return !error && std::chrono::duration_cast<std::chrono::hours>(now - written).count() / kHoursPerDay <=
                       kPartialFileDays;
}

}  // namespace

fs::path PartialPathFor(const fs::path& folder, std::string_view url) {
  std::array<char, kHashDigits + 1> digits{};
  std::snprintf(digits.data(), digits.size(), "%016llx", static_cast<unsigned long long>(AddressHash(url)));
  return folder / (std::string(digits.data()) + std::string(kPartialSuffix));
}

fs::path RecordPathOf(const fs::path& partial) {
  fs::path record = partial;
  record.replace_extension(fs::path(std::string(kRecordSuffix)));
  return record;
}

bool IsPartialFileName(const fs::path& name) { return IsOwnName(name, kPartialSuffix); }
bool IsRecordName(const fs::path& name) { return IsOwnName(name, kRecordSuffix); }

std::optional<ResumeRecord> ReadRecord(const fs::path& recordPath) {
  std::ifstream in(recordPath, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(kMostARecordHolds, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  return ParseResumeRecord(text);
}

void RemoveStalePartials(const fs::path& folder, fs::file_time_type now,
                         const std::function<bool(const ResumeRecord&)>& wanted) {
  std::error_code error;
  if (fs::is_symlink(fs::symlink_status(folder, error)) || !fs::is_directory(folder, error)) return;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    std::error_code ignored;
    if (entry.is_symlink(ignored) || !entry.is_regular_file(ignored)) continue;
    const fs::path& path = entry.path();
    if (IsPartialFileName(path)) {
      const std::optional<ResumeRecord> record = ReadRecord(RecordPathOf(path));
      const bool keep = record && CanResume(*record, record->url, FileSize(path)) && IsFreshEnough(path, now) &&
                        (!wanted || wanted(*record));
      if (!keep) {
        fs::remove(path, ignored);
        fs::remove(RecordPathOf(path), ignored);
      }
    } else if (IsOwnName(path, kRecordInWritingSuffix)) {
      fs::remove(path, ignored);
    } else if (IsRecordName(path)) {
      fs::path partial = path;
      partial.replace_extension(fs::path(std::string(kPartialSuffix)));
      if (!fs::exists(partial, ignored)) fs::remove(path, ignored);
    }
  }
}

PartialFile::PartialFile(fs::path folder, std::string url)
    : m_folder(std::move(folder)), m_url(std::move(url)), m_path(PartialPathFor(m_folder, m_url)),
      m_recordPath(RecordPathOf(m_path)) {
  RereadKept();
}

PartialFile::~PartialFile() {
  if (m_out.is_open()) Close();
}

void PartialFile::RereadKept() {
  m_record = ReadRecord(m_recordPath).value_or(ResumeRecord{});
  m_size = FileSize(m_path);
  m_kept = CanResume(m_record, m_url, m_size) ? m_size : 0;
}

bool PartialFile::OpenToAppend() {
  if (!Open(std::ios::app)) return false;
  // A file that is not what the record speaks for (changed since it was read) is not continued.
  if (FileSize(m_path) != m_kept) {
    m_out.close();
    return false;
  }
  m_size = m_kept;
  return true;
}

bool PartialFile::OpenAnew(const ResumeRecord& record) {
  std::error_code ignored;
  // The old record goes before the bytes it spoke for: a process ending in between leaves a partial file without a
  // record, which nothing continues.
  fs::remove(m_recordPath, ignored);
  if (!Open(std::ios::trunc)) return false;
  m_size = 0;
  m_kept = 0;
  m_record = record;
  m_record.url = m_url;
  if (m_record.validator.empty()) return true;
  // Written only now that the file is empty: the record never stands beside bytes of another answer. A record that
  // cannot be written only costs the resume.
  fs::path written = m_path;
  written.replace_extension(fs::path(std::string(kRecordInWritingSuffix)));
  {
    std::ofstream out(written, std::ios::binary | std::ios::trunc);
    const std::string text = ResumeRecordText(m_record);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
      fs::remove(written, ignored);
      return true;
    }
  }
  fs::rename(written, m_recordPath, ignored);
  return true;
}

bool PartialFile::Open(std::ios::openmode mode) {
  std::error_code error;
  // One level only, so a download folder that went away fails the download rather than coming back empty.
  if (fs::create_directory(m_folder, error)) platform::HideFromListings(m_folder);
  if (!fs::is_directory(m_folder, error)) return false;
  m_out.open(m_path, std::ios::binary | std::ios::out | mode);
  return m_out.is_open();
}

bool PartialFile::Write(const char* data, std::size_t size) {
  if (!m_out.is_open()) return false;
  m_out.write(data, static_cast<std::streamsize>(size));
  if (!m_out) return false;
  m_size += static_cast<std::int64_t>(size);
  return true;
}

bool PartialFile::Close() {
  if (!m_out.is_open()) return true;
  m_out.flush();
  const bool written = static_cast<bool>(m_out);
  m_out.close();
  const bool closed = written && !m_out.fail();
  RereadKept();
  return closed;
}

bool PartialFile::PutInPlace(const fs::path& target) {
  if (m_out.is_open() && !Close()) return false;
  // std::filesystem::rename replaces an existing file on every platform (MoveFileEx with MOVEFILE_REPLACE_EXISTING
  // on Windows), so there is no moment without a file under that name.
  std::error_code error;
  fs::rename(m_path, target, error);
  if (error) return false;
  fs::remove(m_recordPath, error);
  m_kept = 0;
  m_size = 0;
  LeaveFolderIfEmpty();
  return true;
}

void PartialFile::Discard() {
  if (m_out.is_open()) m_out.close();
  std::error_code ignored;
  fs::remove(m_path, ignored);
  fs::remove(m_recordPath, ignored);
  m_record = {};
  m_kept = 0;
  m_size = 0;
  LeaveFolderIfEmpty();
}

// The folder shows nothing once no download is under way; only an empty folder goes.
void PartialFile::LeaveFolderIfEmpty() {
  std::error_code ignored;
  fs::remove(m_folder, ignored);
}

}  // namespace download
