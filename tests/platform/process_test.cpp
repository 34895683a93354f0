#include "platform/process.h"

#include "platform/environment.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr auto kProbeDeadline = std::chrono::seconds(60);
constexpr auto kPollEvery = std::chrono::milliseconds(10);

// The probe's own deadline keeps this from waiting forever; a real process gives no clock to fake.
bool AppearsInTime(const fs::path& file) {
  const auto deadline = std::chrono::steady_clock::now() + kProbeDeadline;
  while (!fs::exists(file)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(kPollEvery);
  }
  return true;
}

// The probe works in the current directory, so each run gets a fresh one; the test's own folder is not it, so a probe
// that starts was found beside the test program and not in the current directory.
class ScratchCurrentDirectory {
 public:
  explicit ScratchCurrentDirectory(const std::string& name)
      : m_previous(fs::current_path()), m_path(fs::temp_directory_path() / name) {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
    fs::create_directories(m_path);
    fs::current_path(m_path);
  }
  // Windows keeps a folder that is some process's current directory; a probe that is still ending may leave it.
  ~ScratchCurrentDirectory() {
    fs::current_path(m_previous);
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
  }
  const fs::path& Path() const { return m_path; }

 private:
  fs::path m_previous;
  fs::path m_path;
};

TEST(StartHidden, StartsByBareNameAndReturnsBeforeTheProgramEnds) {
  enum class On { kEvery, kWindows, kPosix };  // a row of one system's own programs
  struct Case {
    const char* label;
    std::u16string program;
    bool starts;
    bool isProbe;
    On on;
  };
  const Case cases[] = {
      {"beside the running program", u"vextal_probe", true, true, On::kEvery},
      {"with its extension", u"vextal_probe.exe", true, true, On::kWindows},
      // Ends at once without a word or a window when given nothing to run.
      {"in the system folder", u"rundll32", true, false, On::kWindows},
      {"on the search path", u"true", true, false, On::kPosix},
      {"nowhere to be found", u"vextal-no-such-program", false, false, On::kEvery},
      {"no name", u"", false, false, On::kEvery},
  };
  const On here = RunsOnWindows() ? On::kWindows : On::kPosix;
  int run = 0;
  for (const Case& c : cases) {
    if (c.on != On::kEvery && c.on != here) continue;
    SCOPED_TRACE(c.label);
    const ScratchCurrentDirectory scratch("vextal-start-hidden-" + std::to_string(++run));
    EXPECT_EQ(StartHidden(c.program), c.starts);
    if (!c.isProbe) continue;
    // Returned while the probe still waits for the release it has not been given.
    EXPECT_FALSE(fs::exists(scratch.Path() / "finished"));
    ASSERT_TRUE(AppearsInTime(scratch.Path() / "started"));
    EXPECT_FALSE(fs::exists(scratch.Path() / "finished"));
    std::ofstream(scratch.Path() / "release") << "go\n";
    ASSERT_TRUE(AppearsInTime(scratch.Path() / "finished"));
  }
}

}  // namespace
}  // namespace platform
