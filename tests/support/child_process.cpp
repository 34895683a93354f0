#include "tests/support/child_process.h"

#include "net/socket_api.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <sstream>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace testsupport {
namespace {

// A server that has not begun to listen by then will not.
constexpr auto kListenDeadline = std::chrono::seconds(30);
constexpr auto kPollEvery = std::chrono::milliseconds(20);

bool Accepts(int port) {
  std::uint32_t loopback = 0;
  if (net::sock::Resolve("127.0.0.1", loopback) != 0) return false;
  net::sock::Handle probe = net::sock::CreateTcp();
  const bool connected = net::sock::Connect(probe, loopback, static_cast<std::uint16_t>(port), nullptr) == 0;
  net::sock::Close(probe);
  return connected;
}


}  // namespace

ChildProcess::~ChildProcess() { Stop(); }

int FreeLoopbackPort() {
  net::sock::Handle probe = net::sock::ListenLoopback(1);
  if (probe == net::sock::kInvalidHandle) return 0;
  const int port = net::sock::LocalPort(probe);
  net::sock::Close(probe);
  return port;
}

#ifdef _WIN32
namespace {

// A Unix path as a Windows program under Wine opens it.
std::string ThroughDriveZ(const std::string& path) {
  std::string local = "Z:" + path;
  std::replace(local.begin(), local.end(), '/', '\\');
  return local;
}

std::string Quoted(const std::string& word) { return "'" + word + "'"; }

// Wine hands a Unix program neither its exit status nor a pipe back: the shell writes both into files, and the
// status file's arrival is the end.
bool StartShell(const std::string& command) {
  std::string line = "/bin/sh -c \"" + command + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}

std::string ReadLocal(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::atomic<int> g_runs{0};

}  // namespace

bool RunCommand(const std::string& command, std::string* output) {
  const std::string stem = "/tmp/vextal-run-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++g_runs);
  if (!StartShell("( " + command + " ) > " + stem + ".out 2>/dev/null; echo $? > " + stem + ".part; mv " + stem +
                  ".part " + stem + ".status")) {
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + kListenDeadline;
  std::string status;
  while (std::chrono::steady_clock::now() < deadline) {
    status = ReadLocal(ThroughDriveZ(stem + ".status"));
    if (!status.empty()) break;
    std::this_thread::sleep_for(kPollEvery);
  }
  if (output != nullptr) *output = ReadLocal(ThroughDriveZ(stem + ".out"));
  std::remove(ThroughDriveZ(stem + ".out").c_str());
  std::remove(ThroughDriveZ(stem + ".status").c_str());
  return status.rfind("0", 0) == 0;
}

std::string ChildProcess::Start(const std::vector<std::string>& words, const std::string& folder) {
  if (words.empty()) return "no program";
  if (!RunCommand("test -x " + Quoted(words[0]))) return "no " + words[0] + " on this system";
  m_groupFile = "/tmp/vextal-group-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++g_runs);
  // A script of its own, so no quoting nests: in a group of its own (setsid), numbered as its leader, which it writes
  // down before it becomes the program.
  std::string script = folder.empty() ? "" : "cd " + Quoted(folder) + " || exit 1\n";
  script += "echo $$ > " + m_groupFile + "\nexec";
  for (const std::string& word : words) script += " " + Quoted(word);
  std::ofstream(ThroughDriveZ(m_groupFile + ".sh"), std::ios::binary) << script << "\n";
  if (!StartShell("setsid /bin/sh " + m_groupFile + ".sh >/dev/null 2>&1")) return words[0] + " did not start";
  m_process = 1;
  return {};
}

std::string ChildProcess::WaitUntilListening(int port) {
  const auto deadline = std::chrono::steady_clock::now() + kListenDeadline;
  while (std::chrono::steady_clock::now() < deadline) {
    if (Accepts(port)) return {};
    std::this_thread::sleep_for(kPollEvery);
  }
  return "the server did not listen on port " + std::to_string(port);
}

void ChildProcess::Stop() {
  if (m_process == 0) return;
  // The system's shell (dash) takes no "--": a negative number after the signal names the group.
  RunCommand("kill -9 -$(cat " + m_groupFile + ") ; rm -f " + m_groupFile + " " + m_groupFile + ".sh");
  m_process = 0;
}

ScratchDirectory::ScratchDirectory() {
  std::string made;
  if (!RunCommand("d=$(mktemp -d /tmp/vextal-server-XXXXXX) && chmod 777 $d && printf %s $d", &made)) return;
  m_path = made;
}

ScratchDirectory::~ScratchDirectory() {
  if (!m_path.empty()) RunCommand("rm -rf " + Quoted(m_path));
}

std::string ScratchDirectory::LocalPath(const std::string& name) const { return ThroughDriveZ(m_path + "/" + name); }
#else

std::string ChildProcess::Start(const std::vector<std::string>& words, const std::string& folder) {
  if (words.empty() || access(words[0].c_str(), X_OK) != 0) {
    return "no " + (words.empty() ? std::string("program") : words[0]) + " here (scripts/ensure-packages build)";
  }
  std::vector<std::string> copies = words;
  std::vector<char*> arguments;
  for (std::string& word : copies) arguments.push_back(word.data());
  arguments.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A group of its own, so its helpers end with it.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t child = 0;
  const int spawned = posix_spawn(&child, words[0].c_str(), &actions, &attributes, arguments.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) return words[0] + " did not start";
  m_process = child;
  return {};
}

std::string ChildProcess::WaitUntilListening(int port) {
  const auto deadline = std::chrono::steady_clock::now() + kListenDeadline;
  while (std::chrono::steady_clock::now() < deadline) {
    if (Accepts(port)) return {};
    int status = 0;
    if (m_process <= 0 || waitpid(static_cast<pid_t>(m_process), &status, WNOHANG) == m_process) {
      m_process = 0;
      return "the server ended at its start";
    }
    std::this_thread::sleep_for(kPollEvery);
  }
  return "the server did not listen on port " + std::to_string(port);
}

void ChildProcess::Stop() {
  if (m_process <= 0) return;
  const pid_t child = static_cast<pid_t>(m_process);
  kill(-child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  m_process = 0;
}

ScratchDirectory::ScratchDirectory() {
  char pattern[] = "/tmp/vextal-server-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return;
  m_path = pattern;
  chmod(m_path.c_str(), 0777);
}

ScratchDirectory::~ScratchDirectory() {
  if (m_path.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

std::string ScratchDirectory::LocalPath(const std::string& name) const { return m_path + "/" + name; }
#endif

std::string ScratchDirectory::Write(const std::string& name, const std::string& text) const {
  std::ofstream(LocalPath(name), std::ios::binary) << text;
  return m_path + "/" + name;
}

#ifndef _WIN32

bool RunCommand(const std::string& command, std::string* output) {
  std::FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return false;
  std::string text;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, got);
  const int status = pclose(pipe);
  if (output != nullptr) *output = text;
  return status == 0;
}
#endif

}  // namespace testsupport
