#include "platform/program_run.h"

#include "platform/utf.h"

#include <chrono>
#include <exception>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <climits>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace platform {
namespace {

// How often a wait for a program gives the caller its turn: often enough that a window stays alive under it.
constexpr int kWaitSliceMs = 30;

void AppendQuoted(std::u16string& line, std::u16string_view argument) {
  if (!argument.empty() && argument.find_first_of(u" \t\n\v\"") == std::u16string_view::npos) {
    line += argument;
    return;
  }
  line += u'"';
  std::size_t backslashes = 0;
  for (const char16_t unit : argument) {
    if (unit == u'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count double only before a quote, the argument's closing one included.
    line.append(unit == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
    backslashes = 0;
    line += unit;
  }
  line.append(backslashes * 2, u'\\');
  line += u'"';
}

#ifdef _WIN32
// The process is started; its handle is the caller's to close. Nothing when it could not be.
std::optional<HANDLE> Spawn(const Launch& launch) {
  std::wstring commandLine = WideFromUtf16(CommandLineOf(launch));
  const std::wstring folder = launch.workingFolder.wstring();
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  // No inherited handles: the working folder's lock must not live on in a child.
  if (!CreateProcessW(launch.program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
    return std::nullopt;
  }
  CloseHandle(info.hThread);
  return info.hProcess;
}
#else
std::optional<pid_t> Spawn(const Launch& launch, bool ownSession) {
  std::vector<std::string> texts;
  try {
    texts.push_back(launch.program.string());
    for (const std::u16string& argument : launch.arguments) texts.push_back(std::filesystem::path(argument).string());
  } catch (const std::exception&) {
    return std::nullopt;  // half a surrogate pair names nothing
  }
  std::vector<char*> arguments;
  for (std::string& text : texts) arguments.push_back(text.data());
  arguments.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string folder = launch.workingFolder.string();
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A program started to go on without this one outlives the terminal this one may have been started from.
  if (ownSession) posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t child = 0;
  const int failed = posix_spawn(&child, texts.front().c_str(), &actions, &attributes, arguments.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) return std::nullopt;
  return child;
}
#endif

}  // namespace

std::u16string CommandLineOf(const Launch& launch) {
  std::u16string line;
  AppendQuoted(line, launch.program.u16string());
  for (std::size_t i = 0; i < launch.arguments.size(); ++i) {
    line += u' ';
    if (launch.lastArgumentVerbatim && i + 1 == launch.arguments.size()) {
      line += launch.arguments[i];
    } else {
      AppendQuoted(line, launch.arguments[i]);
    }
  }
  return line;
}

bool StartProgram(const Launch& launch) {
#ifdef _WIN32
  const std::optional<HANDLE> process = Spawn(launch);
  if (!process) return false;
  CloseHandle(*process);
  return true;
#else
  return Spawn(launch, true).has_value();
#endif
}

std::optional<int> RunAndWait(const Launch& launch, const std::function<void()>& whileWaiting) {
#ifdef _WIN32
  const std::optional<HANDLE> process = Spawn(launch);
  if (!process) return std::nullopt;
  while (WaitForSingleObject(*process, kWaitSliceMs) == WAIT_TIMEOUT) {
    if (whileWaiting) whileWaiting();
  }
  DWORD code = 0;
  const bool known = GetExitCodeProcess(*process, &code) != FALSE;
  CloseHandle(*process);
  if (!known) return std::nullopt;
  return static_cast<int>(code);
#else
  const std::optional<pid_t> child = Spawn(launch, false);
  if (!child) return std::nullopt;
  for (;;) {
    int status = 0;
    const pid_t ended = waitpid(*child, &status, WNOHANG);
    if (ended == *child) {
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
      continue;
    }
    if (ended < 0 && errno != EINTR) return std::nullopt;
    if (whileWaiting) whileWaiting();
    std::this_thread::sleep_for(std::chrono::milliseconds(kWaitSliceMs));
  }
#endif
}

std::filesystem::path OwnProgramFile() {
#ifdef _WIN32
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
#else
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : self;
#endif
}

std::filesystem::path ProgramFileIn(const std::filesystem::path& folder, std::string_view name) {
#ifdef _WIN32
  return folder / (std::string(name) + ".exe");
#else
  return folder / std::string(name);
#endif
}

bool RunningProgramFilesAreLocked() {
#ifdef _WIN32
  return true;
#else
  return false;
#endif
}

bool MakeRunnable(const std::filesystem::path& file) {
  std::error_code error;
#ifndef _WIN32
  std::filesystem::permissions(file, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add, error);
#endif
  return !error && std::filesystem::is_regular_file(file, error);
}

}  // namespace platform
