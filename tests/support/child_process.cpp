#include "tests/support/child_process.h"

#include "net/socket_api.h"
#include "platform/environment.h"
#include "platform/program_run.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

// Every program is started through the machine's POSIX shell, from a script of its own, the same way on Linux and
// under Wine (which runs a Unix program a Windows one starts, but hands back neither its exit status nor a pipe): the
// script writes down its status, its output and its process group in files, which this side reads.
namespace testsupport {
namespace {

// A server that has not begun to listen by then will not, nor a command that has not ended.
constexpr auto kGiveUp = std::chrono::seconds(30);
constexpr auto kPollEvery = std::chrono::milliseconds(20);
constexpr const char* kShell = "/bin/sh";

std::string Quoted(const std::string& word) { return "'" + word + "'"; }

// A name no other test process of this run picks.
std::string UniqueStem(const char* kind) {
  static const std::string run = std::to_string(std::random_device{}());
  static std::atomic<int> count{0};
  return "/tmp/vextal-" + std::string(kind) + "-" + run + "-" + std::to_string(++count);
}

std::string ReadHostFile(const std::string& path) {
  std::ifstream file(platform::HostFilePath(path), std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

bool StartScript(const std::string& path, const std::string& script) {
  std::ofstream(platform::HostFilePath(path), std::ios::binary) << script << "\n";
  platform::Launch launch;
  launch.program = kShell;
  launch.arguments = {std::u16string(path.begin(), path.end())};
  return platform::StartProgram(launch);
}

bool Accepts(int port) {
  std::uint32_t loopback = 0;
  if (net::sock::Resolve("127.0.0.1", loopback) != 0) return false;
  net::sock::Handle probe = net::sock::CreateTcp();
  const bool connected = net::sock::Connect(probe, loopback, static_cast<std::uint16_t>(port), nullptr) == 0;
  net::sock::Close(probe);
  return connected;
}

// Waits for a condition of another process's, which signals nothing this side can wait on: looked at again and
// again until it holds or the give-up time has passed. The outcome does not depend on how busy the machine is.
template <typename Condition>
bool Eventually(const Condition& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kGiveUp;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollEvery);
  }
  return true;
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

bool RunCommand(const std::string& command, std::string* output) {
  const std::string stem = UniqueStem("run");
  if (!StartScript(stem + ".sh", "( " + command + " ) > " + stem + ".out 2>/dev/null; echo $? > " + stem +
                                     ".part; mv " + stem + ".part " + stem + ".status")) {
    return false;
  }
  std::string status;
  Eventually([&] { return !(status = ReadHostFile(stem + ".status")).empty(); });
  if (output != nullptr) *output = ReadHostFile(stem + ".out");
  for (const char* suffix : {".sh", ".out", ".status"}) std::remove(platform::HostFilePath(stem + suffix).string().c_str());
  return status.rfind("0", 0) == 0;
}

std::string ChildProcess::Start(const std::vector<std::string>& words, const std::string& folder) {
  if (words.empty()) return "no program";
  if (!RunCommand("test -x " + Quoted(words[0]))) return "no " + words[0] + " on this system";
  m_groupFile = UniqueStem("group");
  // In a group of its own (setsid), numbered as its leader, which it writes down before it becomes the program.
  std::string script = folder.empty() ? "" : "cd " + Quoted(folder) + " || exit 1\n";
  script += "echo $$ > " + m_groupFile + "\nexec";
  for (const std::string& word : words) script += " " + Quoted(word);
  std::ofstream(platform::HostFilePath(m_groupFile + ".sh"), std::ios::binary) << script << "\n";
  if (!StartScript(m_groupFile + ".start", "exec setsid " + std::string(kShell) + " " + m_groupFile +
                                               ".sh >/dev/null 2>&1")) {
    return words[0] + " did not start";
  }
  m_process = 1;
  return {};
}

std::string ChildProcess::WaitUntilListening(int port) {
  if (Eventually([port] { return Accepts(port); })) return {};
  return "the server did not listen on port " + std::to_string(port);
}

void ChildProcess::Stop() {
  if (m_process == 0) return;
  // The system's shell (dash) takes no "--": a negative number after the signal names the group.
  RunCommand("kill -9 -$(cat " + m_groupFile + ") ; rm -f " + m_groupFile + " " + m_groupFile + ".sh " + m_groupFile +
             ".start");
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

std::string ScratchDirectory::LocalPath(const std::string& name) const {
  return platform::HostFilePath(m_path + "/" + name).string();
}

std::string ScratchDirectory::Write(const std::string& name, const std::string& text) const {
  std::ofstream(LocalPath(name), std::ios::binary) << text;
  return m_path + "/" + name;
}

}  // namespace testsupport
