#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A program from the system a test runs beside itself (squid, openssl s_server), in a process group of its own so it
// ends with its helpers; and the folder and port such a server needs. POSIX only: under Windows Start says why not,
// and the test skips.
namespace testsupport {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts words[0] with the rest as arguments, in folder (the current one when empty). Empty on success.
  std::string Start(const std::vector<std::string>& words, const std::string& folder = {});
  // Waits until the program accepts connections on the loopback port, or has ended. Empty on success.
  std::string WaitUntilListening(int port);
  // Ends it at once: a test's server has nothing to keep.
  void Stop();

 private:
  std::int64_t m_process = 0;
};

// A folder of the test's own under /tmp, removed with the object; writable by anybody, so a server that drops its
// privileges (squid started as root) can still write its log there.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::string& Path() const { return m_path; }
  // Writes a file in it and returns its path.
  std::string Write(const std::string& name, const std::string& text) const;

 private:
  std::string m_path;
};

// A loopback port nobody listens on now (bound, read, let go).
int FreeLoopbackPort();

// Runs a shell command and returns its standard output, or nothing when it failed (exit status not 0).
bool RunCommand(const std::string& command, std::string* output = nullptr);

}  // namespace testsupport
