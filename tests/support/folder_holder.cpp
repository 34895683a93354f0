#include "tests/support/folder_holder.h"

#include "platform/folder_lock.h"

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;
#endif

namespace testsupport {
namespace {

// The holder gives up on its own after a minute, so a failed start does not wait forever either.
constexpr auto kHoldDeadline = std::chrono::seconds(60);
constexpr auto kPollEvery = std::chrono::milliseconds(10);

}  // namespace

FolderHolder::FolderHolder(const std::filesystem::path& lockFile) {
  const std::string program = VEXTAL_LOCK_HOLDER_PATH;
  const std::string file = lockFile.string();
  const std::string window = std::to_string(kWindow);
#ifdef _WIN32
  std::string commandLine = '"' + program + "\" \"" + file + "\" " + window;
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return;
  }
  CloseHandle(info.hThread);
  m_process = info.hProcess;
  m_id = info.dwProcessId;
#else
  std::vector<std::string> words = {program, file, window};
  std::vector<char*> arguments;
  for (std::string& word : words) arguments.push_back(word.data());
  arguments.push_back(nullptr);
  pid_t child = 0;
  if (posix_spawn(&child, program.c_str(), nullptr, nullptr, arguments.data(), environ) != 0) return;
  m_id = static_cast<std::uint64_t>(child);
#endif
  const auto deadline = std::chrono::steady_clock::now() + kHoldDeadline;
  while (std::chrono::steady_clock::now() < deadline) {
    const std::optional<platform::RecordedWindow> recorded = platform::ReadRecordedWindow(lockFile);
    if (recorded && recorded->process == m_id) {
      m_holds = true;
      return;
    }
    std::this_thread::sleep_for(kPollEvery);
  }
}

FolderHolder::~FolderHolder() { Kill(); }

void FolderHolder::Kill() {
  if (m_id == 0) return;
#ifdef _WIN32
  TerminateProcess(m_process, 1);
  WaitForSingleObject(m_process, INFINITE);
  CloseHandle(m_process);
  m_process = nullptr;
#else
  const auto child = static_cast<pid_t>(m_id);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
#endif
  m_id = 0;
  m_holds = false;
}

}  // namespace testsupport
