#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A program from the system a test runs beside itself (squid, openssl s_server, nginx), in a process group of its own
// so it ends with its helpers; and the folder and port such a server needs. The programs are the machine's POSIX
// ones: a Windows test under Wine starts them too, and on a Windows without them Start says why not and the test
// skips.
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
  std::int64_t m_process = 0;  // 1 while started
  std::string m_groupFile;     // where the program's process group number is written
};

// A folder of the test's own under /tmp, removed with the object; writable by anybody, so a server that drops its
// privileges (squid started as root) can still write its log there.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  // As the system's programs name it (a Unix path), for their configuration files and command lines.
  const std::string& Path() const { return m_path; }
  // A file in it as this program opens it (under Wine, through drive Z:).
  std::string LocalPath(const std::string& name) const;
  // Writes a file in it and returns its path as the system's programs name it.
  std::string Write(const std::string& name, const std::string& text) const;

 private:
  std::string m_path;
};

// A loopback port nobody listens on now (bound, read, let go).
int FreeLoopbackPort();

// Runs a POSIX shell command; true when it exited with 0, its standard output in output.
bool RunCommand(const std::string& command, std::string* output = nullptr);

}  // namespace testsupport
