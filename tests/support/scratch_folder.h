#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

// A folder of the test's own under the temp folder, removed with it: two runs at once, or what a crashed run left,
// never share one. It is made only where nothing stood, so a taken name is passed over, not reused.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& prefix = "vextal-test-");
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // Empty when no folder could be made.
  const std::filesystem::path& Path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

}  // namespace testsupport
