// Stands in for the NSIS installer in the updater's road tests: it writes the arguments it got into
// installer-arguments.txt and a "new" client into the folder named by its "/D=" argument, and ends with the exit code
// in VEXTAL_STAND_IN_EXIT (0 when unset). With a non-zero code it installs nothing, as a failed installer may. The
// client's file name comes in VEXTAL_STAND_IN_CLIENT ("vextal" when unset), as the test's system names it. With
// VEXTAL_STAND_IN_HANG set it stalls before doing anything, as an installer waiting on a lost dialog does, until killed.
#include <cstdlib>
#include <future>
#include <fstream>
#include <string>
#include <string_view>

int main(int argc, char** argv) {
  // Waits for what never comes, however long: only the kill that stops it ends it.
  if (std::getenv("VEXTAL_STAND_IN_HANG")) std::promise<void>().get_future().wait();
  constexpr std::string_view kFolderSwitch = "/D=";
  std::string folder;
  std::string arguments;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    arguments += std::string(argument) + "\n";
    if (argument.substr(0, kFolderSwitch.size()) == kFolderSwitch) folder = argument.substr(kFolderSwitch.size());
  }
  const char* exitText = std::getenv("VEXTAL_STAND_IN_EXIT");
  const int exitCode = exitText ? std::atoi(exitText) : 0;
  if (folder.empty()) return 2;
  std::ofstream(folder + "/installer-arguments.txt", std::ios::binary) << arguments;
  const char* client = std::getenv("VEXTAL_STAND_IN_CLIENT");
  if (exitCode == 0) std::ofstream(folder + "/" + (client ? client : "vextal"), std::ios::binary) << "new vextal";
  return exitCode;
}
