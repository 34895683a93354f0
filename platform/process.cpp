#include "platform/process.h"

#include "platform/utf.h"

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <vector>

#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;
#endif

namespace platform {
namespace {

#ifndef _WIN32

bool IsRunnableFile(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string OwnFolder() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
}

// The Windows order, less the current directory, which POSIX shells do not search either.
std::string FindProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return IsRunnableFile(name) ? name : std::string();
  std::vector<std::string> folders;
  if (std::string own = OwnFolder(); !own.empty()) folders.push_back(own);
  const char* searchPath = std::getenv("PATH");
  std::string_view rest = searchPath ? searchPath : "";
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::string_view folder = rest.substr(0, colon);
    if (!folder.empty()) folders.emplace_back(folder);
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  for (const std::string& folder : folders) {
    const std::string candidate = folder + '/' + name;
    if (IsRunnableFile(candidate)) return candidate;
  }
  return {};
}

#endif

}  // namespace

bool ProgramExists(std::u16string_view program) {
  if (program.empty()) return false;
#ifdef _WIN32
  // SearchPath looks where CreateProcess looks for a bare name: the program's own folder, the current directory, the
  // system folders, then the search path.
  const std::wstring name = WideFromUtf16(program);
  return SearchPathW(nullptr, name.c_str(), nullptr, 0, nullptr, nullptr) != 0;
#else
  try {
    return !FindProgram(std::filesystem::path(program).string()).empty();
  } catch (const std::exception&) {
    return false;  // half a surrogate pair names no file
  }
#endif
}

bool StartHidden(std::u16string_view program) {
  if (program.empty()) return false;
#ifdef _WIN32
  // With no application name CreateProcess runs the platform's own search for a bare name; quotes keep a name with
  // blanks whole.
  std::wstring commandLine = WideFromUtf16(program);
  if (commandLine.find(L' ') != std::wstring::npos) commandLine = L'"' + commandLine + L'"';
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
#else
  std::string name;
  try {
    name = std::filesystem::path(program).string();
  } catch (const std::exception&) {
    return false;  // half a surrogate pair names no file
  }
  const std::string path = FindProgram(name);
  if (path.empty()) return false;
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Its own session, so the updater outlives the terminal this program may have been started from.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  std::string argument0 = name;
  char* arguments[] = {argument0.data(), nullptr};
  pid_t child = 0;
  const int failed = posix_spawn(&child, path.c_str(), nullptr, &attributes, arguments, environ);
  posix_spawnattr_destroy(&attributes);
  return failed == 0;
#endif
}

}  // namespace platform
