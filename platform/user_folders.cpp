#include "platform/user_folders.h"

#include "platform/file_kind.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <aclapi.h>
#else
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
fs::path EnvironmentPath(const wchar_t* name) {
  const DWORD length = GetEnvironmentVariableW(name, nullptr, 0);
  if (length == 0) return {};
  std::wstring value(length, L'\0');
  const DWORD written = GetEnvironmentVariableW(name, value.data(), length);
  if (written == 0 || written >= length) return {};
  value.resize(written);
  return value;
}

// What the process's token says of its user: who it is, and whom the objects it makes belong to (an elevated
// administrator's belong to the Administrators group).
class TokenSids {
 public:
  TokenSids() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    m_user = Query(token, TokenUser);
    m_owner = Query(token, TokenOwner);
    CloseHandle(token);
  }
  PSID User() const {
    return m_user.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(m_user.data())->User.Sid;
  }
  PSID Owner() const {
    return m_owner.empty() ? nullptr : reinterpret_cast<const TOKEN_OWNER*>(m_owner.data())->Owner;
  }

 private:
  static std::vector<unsigned char> Query(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size == 0 || !GetTokenInformation(token, kind, buffer.data(), size, &size)) return {};
    return buffer;
  }

  std::vector<unsigned char> m_user;
  std::vector<unsigned char> m_owner;
};

// Checks the folder open in handle and gives it an access list naming the user alone, inherited by what is made in
// it and not inheriting the parent's.
bool MakeOwnFolderPrivate(HANDLE handle, const TokenSids& sids) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) return false;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const bool own = owner != nullptr && ((sids.User() != nullptr && EqualSid(owner, sids.User())) ||
                                        (sids.Owner() != nullptr && EqualSid(owner, sids.Owner())));
  LocalFree(descriptor);
  if (!own || sids.User() == nullptr) return false;

  const DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sids.User());
  std::vector<unsigned char> aclBytes(aclSize);
  auto* acl = reinterpret_cast<PACL>(aclBytes.data());
  if (!InitializeAcl(acl, aclSize, ACL_REVISION) ||
      !AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS,
                             sids.User())) {
    return false;
  }
  return SetSecurityInfo(handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                         nullptr, nullptr, acl, nullptr) == ERROR_SUCCESS;
}

bool MakePrivate(const fs::path& folder, const TokenSids& sids) {
  if (EntryKindOf(folder) == EntryKind::kMissing && !CreateDirectoryW(folder.c_str(), nullptr) &&
      GetLastError() != ERROR_ALREADY_EXISTS) {
    return false;
  }
  // The checks and the change go through one handle to the folder itself, so a link put there meanwhile is seen.
  const HANDLE handle = CreateFileW(folder.c_str(), READ_CONTROL | WRITE_DAC,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  // Asked of the path too: Wine shows a link of the machine's own as a reparse point there, not through a handle.
  const bool made = EntryKindOf(folder) == EntryKind::kFolder && MakeOwnFolderPrivate(handle, sids);
  CloseHandle(handle);
  return made;
}
#else
constexpr mode_t kOwnerOnly = S_IRWXU;
constexpr mode_t kPermissionBits = 07777;

fs::path EnvironmentPath(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? fs::path(value) : fs::path();
}

struct TokenSids {};

bool MakePrivate(const fs::path& folder, const TokenSids&) {
  if (mkdir(folder.c_str(), kOwnerOnly) != 0 && errno != EEXIST) return false;
  // O_NOFOLLOW and O_DIRECTORY: a link or anything but a folder is refused, and what is checked is what is changed.
  const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0) return false;
  struct stat info {};
  const bool made = fstat(descriptor, &info) == 0 && info.st_uid == geteuid() &&
                    ((info.st_mode & kPermissionBits) == kOwnerOnly || fchmod(descriptor, kOwnerOnly) == 0);
  close(descriptor);
  return made;
}
#endif

// Below base, or nothing when folder does not lie there.
std::optional<fs::path> RelativeBelow(const fs::path& folder, const fs::path& base) {
  if (base.empty()) return std::nullopt;
  const fs::path relative = folder.lexically_normal().lexically_relative(base.lexically_normal());
  if (relative.empty() || relative == "." || *relative.begin() == "..") return std::nullopt;
  return relative;
}

}  // namespace

UserFolderPath UpdatesFolderPath() {
#ifdef _WIN32
  const fs::path local = EnvironmentPath(L"LOCALAPPDATA");
  if (local.empty() || !local.is_absolute()) return {};
  return {local, fs::path(L"Vextal") / L"Updates"};
#else
  const fs::path ours = fs::path("vextal") / "updates";
  // The base directory rules: a relative XDG_CACHE_HOME is to be ignored.
  if (const fs::path cache = EnvironmentPath("XDG_CACHE_HOME"); cache.is_absolute()) return {cache, ours};
  const fs::path home = EnvironmentPath("HOME");
  if (!home.is_absolute()) return {};
  return {home / ".cache", ours};
#endif
}

fs::path UpdatesFolder() {
  const UserFolderPath location = UpdatesFolderPath();
  return location.base.empty() ? fs::path() : location.base / location.relative;
}

bool MakePrivateFolders(const UserFolderPath& location) {
  if (location.base.empty() || location.relative.empty() || location.relative.is_absolute() ||
      location.relative.has_root_name()) {
    return false;
  }
  const TokenSids sids;
  std::error_code error;
  if (EntryKindOf(location.base) == EntryKind::kMissing) {
    // The cache home's rules ask for a missing one to be made for its user alone.
    if (location.base.has_parent_path()) fs::create_directories(location.base.parent_path(), error);
    if (!MakePrivate(location.base, sids)) return false;
  }
  if (!fs::is_directory(location.base, error)) return false;
  fs::path folder = location.base;
  for (const fs::path& name : location.relative) {
    if (name.empty()) continue;  // what a trailing separator leaves
    if (name == "." || name == "..") return false;
    folder /= name;
    if (!MakePrivate(folder, sids)) return false;
  }
  return true;
}

bool MakePrivateFolder(const fs::path& folder) {
  const UserFolderPath updates = UpdatesFolderPath();
  if (const std::optional<fs::path> relative = RelativeBelow(folder, updates.base)) {
    return MakePrivateFolders({updates.base, *relative});
  }
  fs::path base = folder.lexically_normal();
  if (!base.has_filename()) base = base.parent_path();  // a trailing separator names the same folder
  base = base.parent_path();
  while (EntryKindOf(base) == EntryKind::kMissing && base.has_relative_path()) base = base.parent_path();
  const std::optional<fs::path> relative = RelativeBelow(folder, base);
  return relative && MakePrivateFolders({base, *relative});
}

// Windows has no permission bits: the folder's own access list names this process's user alone, in a single entry,
// and inherits nothing of its parent's.
#ifdef _WIN32
bool OnlyTheUserMayEnter(const fs::path& folder) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size);
  const bool known = size != 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size);
  CloseHandle(token);
  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!known || GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                      &acl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  void* entry = nullptr;
  const bool only = GetSecurityDescriptorControl(descriptor, &control, &revision) &&
                    (control & SE_DACL_PROTECTED) != 0 && acl != nullptr && acl->AceCount == 1 &&
                    GetAce(acl, 0, &entry) &&
                    static_cast<ACE_HEADER*>(entry)->AceType == ACCESS_ALLOWED_ACE_TYPE &&
                    EqualSid(&static_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart,
                             reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid);
  LocalFree(descriptor);
  return only;
}
#else
bool OnlyTheUserMayEnter(const fs::path& folder) {
  std::error_code error;
  return (fs::status(folder, error).permissions() & fs::perms::mask) == fs::perms::owner_all && !error;
}
#endif

bool FilesHavePermissionBits() {
#ifdef _WIN32
  return false;
#else
  return true;
#endif
}

}  // namespace platform
