#include "tests/support/child_process.h"

#include "net/socket_api.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#ifndef _WIN32
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
std::string ChildProcess::Start(const std::vector<std::string>&, const std::string&) {
  return "the test's servers run on the Linux host, not under Windows";
}
std::string ChildProcess::WaitUntilListening(int) { return "not started"; }
void ChildProcess::Stop() {}
ScratchDirectory::ScratchDirectory() = default;
ScratchDirectory::~ScratchDirectory() = default;
std::string ScratchDirectory::Write(const std::string&, const std::string&) const { return {}; }
bool RunCommand(const std::string&, std::string*) { return false; }
#else
namespace {

bool Accepts(int port) {
  std::uint32_t loopback = 0;
  if (net::sock::Resolve("127.0.0.1", loopback) != 0) return false;
  net::sock::Handle probe = net::sock::CreateTcp();
  const bool connected = net::sock::Connect(probe, loopback, static_cast<std::uint16_t>(port), nullptr) == 0;
  net::sock::Close(probe);
  return connected;
}

}  // namespace

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

std::string ScratchDirectory::Write(const std::string& name, const std::string& text) const {
  const std::string path = m_path + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

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
