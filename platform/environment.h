#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The process's environment, and the files of the machine's POSIX side as this program opens them.
namespace platform {

// Sets a variable of this process (nothing: removes it), as a later getenv reads it.
void SetEnvironmentVariable(const std::string& name, const std::optional<std::string>& value);

// The file a POSIX path of this machine names, as this program opens it: the path itself on POSIX; under Wine the
// same file through drive Z:, where Wine shows the machine's root.
std::filesystem::path HostFilePath(std::string_view posixPath);

// Whether this is a Windows program (under Wine too): for the few answers where the systems rightly differ.
bool RunsOnWindows();

// Whether this Windows program runs under Wine rather than on Windows. Wine differs from Windows in a few observable
// ways; the callers that meet one say which and why next to their use of this.
bool RunsUnderWine();

}  // namespace platform
