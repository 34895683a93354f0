#include "platform/program_run.h"

#include "platform/held_file.h"
#include "platform/utf.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <climits>
#include <csignal>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace platform {
namespace {

// How often a wait for a program gives the caller its turn: often enough that a window stays alive under it.
constexpr std::chrono::milliseconds kWaitSlice(30);
#ifndef _WIN32
// A shell's convention for a program ended by a signal.
constexpr int kSignalExitBase = 128;
#endif

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
// The process is created, its handles the caller's to close; nothing when it could not be. image is the file run,
// launch.program the name its command line gives it.
std::optional<PROCESS_INFORMATION> Create(const Launch& launch, const std::filesystem::path& image, DWORD flags) {
  std::wstring commandLine = WideFromUtf16(CommandLineOf(launch));
  const std::wstring folder = launch.workingFolder.wstring();
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  // No inherited handles: the working folder's lock must not live on in a child.
  if (!CreateProcessW(image.c_str(), commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
    return std::nullopt;
  }
  return info;
}

// A program run to its end: in a job of its own when Windows allows one (a process already in a job that forbids
// nesting does not), so that killing it kills what it started too.
class RunningProgram {
 public:
  RunningProgram(const Launch& launch, const std::filesystem::path& image) {
    const std::optional<PROCESS_INFORMATION> info = Create(launch, image, CREATE_SUSPENDED);
    if (!info) return;
    m_job = CreateJobObjectW(nullptr, nullptr);
    if (m_job != nullptr && !AssignProcessToJobObject(m_job, info->hProcess)) {
      CloseHandle(m_job);
      m_job = nullptr;
    }
    const bool resumed = ResumeThread(info->hThread) != static_cast<DWORD>(-1);
    CloseHandle(info->hThread);
    m_process = info->hProcess;
    if (!resumed) {
      Kill();
      CloseHandle(m_process);
      m_process = nullptr;
    }
  }
  ~RunningProgram() {
    if (m_process != nullptr) CloseHandle(m_process);
    if (m_job != nullptr) CloseHandle(m_job);
  }
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  bool Started() const { return m_process != nullptr; }
  bool Lost() const { return m_lost; }

  std::optional<int> EndedWithin(std::chrono::milliseconds wait) {
    const DWORD waited = WaitForSingleObject(m_process, static_cast<DWORD>(wait.count()));
    if (waited == WAIT_TIMEOUT) return std::nullopt;
    DWORD code = 0;
    if (waited != WAIT_OBJECT_0 || !GetExitCodeProcess(m_process, &code)) {
      m_lost = true;
      return std::nullopt;
    }
    return static_cast<int>(code);
  }

  void Kill() {
    if (m_job != nullptr) TerminateJobObject(m_job, kKilledExitCode);
    TerminateProcess(m_process, kKilledExitCode);
    // Termination completes after the call returns; until then the program may still write.
    WaitForSingleObject(m_process, kKillWaitMs);
  }

 private:
  static constexpr UINT kKilledExitCode = 1;
  // A killed process is gone within milliseconds; this only keeps a stuck kernel call from hanging the caller.
  static constexpr DWORD kKillWaitMs = 10000;

  HANDLE m_process = nullptr;
  HANDLE m_job = nullptr;
  bool m_lost = false;
};
#else
struct SpawnWay {
  bool ownSession = false;  // outlives the terminal this process may have been started from
  bool ownGroup = false;    // leads a process group of its own, so a kill reaches what it started
  std::string image;        // the file executed, when it is not the program's path
  int keptDescriptor = -1;  // a descriptor the child keeps open across its exec (the held file it executes)
};

std::optional<pid_t> Spawn(const Launch& launch, const SpawnWay& way) {
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
  // A duplication onto itself clears close-on-exec in the child only: a script executed through /proc/self/fd is
  // read again by its interpreter under that name after the exec.
  if (way.keptDescriptor >= 0) posix_spawn_file_actions_adddup2(&actions, way.keptDescriptor, way.keptDescriptor);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  short flags = 0;
  if (way.ownSession) flags |= POSIX_SPAWN_SETSID;
  if (way.ownGroup) {
    flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&attributes, 0);
  }
  posix_spawnattr_setflags(&attributes, flags);
  const std::string& image = way.image.empty() ? texts.front() : way.image;
  pid_t child = 0;
  const int failed = posix_spawn(&child, image.c_str(), &actions, &attributes, arguments.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) return std::nullopt;
  return child;
}

std::optional<int> ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return kSignalExitBase + WTERMSIG(status);
  return std::nullopt;
}

class RunningProgram {
 public:
  RunningProgram(const Launch& launch, SpawnWay way) {
    way.ownGroup = true;
    m_child = Spawn(launch, way).value_or(kNoChild);
  }
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  bool Started() const { return m_child != kNoChild; }
  bool Lost() const { return m_lost; }

  std::optional<int> EndedWithin(std::chrono::milliseconds wait) {
    if (const std::optional<int> code = Reaped(WNOHANG)) return code;
    if (m_lost || wait.count() <= 0) return std::nullopt;
    std::this_thread::sleep_for(wait);
    return Reaped(WNOHANG);
  }

  void Kill() {
    // The group first: a child of the program's that stays in its group ends with it.
    kill(-m_child, SIGKILL);
    kill(m_child, SIGKILL);
    Reaped(0);
  }

 private:
  static constexpr pid_t kNoChild = -1;

  // The exit code once the child has ended and is reaped. Another part of this process may have reaped it first
  // (SIGCHLD ignored does): then its end is lost.
  std::optional<int> Reaped(int options) {
    for (;;) {
      int status = 0;
      const pid_t ended = waitpid(m_child, &status, options);
      if (ended == m_child) return ExitCodeOf(status);
      if (ended == 0) return std::nullopt;
      if (errno != EINTR) {
        m_lost = true;
        return std::nullopt;
      }
    }
  }

  pid_t m_child = kNoChild;
  bool m_lost = false;
};

// The file a held descriptor can be executed by: Linux names every open file of the process under /proc/self/fd.
std::string DescriptorPath(int descriptor) { return "/proc/self/fd/" + std::to_string(descriptor); }

bool NamesHeldFile(const std::filesystem::path& path, int descriptor) {
  struct stat named {};
  struct stat held {};
  return stat(path.c_str(), &named) == 0 && fstat(descriptor, &held) == 0 && named.st_dev == held.st_dev &&
         named.st_ino == held.st_ino;
}
#endif

// Waits for the started program within the limits and ends it by force when they are reached.
RunOutcome AwaitEnd(RunningProgram& program, const RunLimits& limits) {
  using std::chrono::milliseconds;
  if (!program.Started()) return {};
  const auto began = std::chrono::steady_clock::now();
  const auto elapsed = [&began] {
    return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - began);
  };
  for (;;) {
    const milliseconds left = std::max(limits.limit - elapsed(), milliseconds(0));
    if (const std::optional<int> code = program.EndedWithin(std::min(left, kWaitSlice))) {
      return {RunOutcome::End::kExited, *code};
    }
    if (program.Lost()) return {};
    if (limits.whileWaiting) limits.whileWaiting();
    const bool stopped = limits.stopRequested && limits.stopRequested();
    if (!stopped && elapsed() < limits.limit) continue;
    // An installer that finished while the caller had its turn has done its work: that is the outcome to report.
    if (const std::optional<int> code = program.EndedWithin(milliseconds(0))) return {RunOutcome::End::kExited, *code};
    if (program.Lost()) return {};
    program.Kill();
    return {stopped ? RunOutcome::End::kStopped : RunOutcome::End::kTimedOut, 0};
  }
}

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
  const std::optional<PROCESS_INFORMATION> info = Create(launch, launch.program, 0);
  if (!info) return false;
  CloseHandle(info->hThread);
  CloseHandle(info->hProcess);
  return true;
#else
  SpawnWay way;
  way.ownSession = true;
  return Spawn(launch, way).has_value();
#endif
}

RunOutcome RunWithin(const Launch& launch, const RunLimits& limits) {
#ifdef _WIN32
  RunningProgram program(launch, launch.program);
#else
  RunningProgram program(launch, SpawnWay{});
#endif
  return AwaitEnd(program, limits);
}

RunOutcome RunWithin(const HeldFile& held, const Launch& launch, const RunLimits& limits) {
  if (!held.IsOpen()) return {};
  Launch named = launch;
  named.program = held.Path();
#ifdef _WIN32
  RunningProgram program(named, held.Path());
#else
  const int descriptor = static_cast<int>(held.Native());
  SpawnWay way;
  if (access(DescriptorPath(descriptor).c_str(), F_OK) == 0) {
    way.image = DescriptorPath(descriptor);
    way.keptDescriptor = descriptor;
  } else if (!NamesHeldFile(held.Path(), descriptor)) {
    return {};
  }
  RunningProgram program(named, way);
#endif
  return AwaitEnd(program, limits);
}

std::optional<int> RunAndWait(const Launch& launch, const std::function<void()>& whileWaiting) {
  RunLimits limits;
  limits.whileWaiting = whileWaiting;
  const RunOutcome outcome = RunWithin(launch, limits);
  if (outcome.end != RunOutcome::End::kExited) return std::nullopt;
  return outcome.exitCode;
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

bool ScriptsRunByTheirFirstLine() {
#ifdef _WIN32
  return false;
#else
  return true;
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
