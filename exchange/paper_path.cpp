#include "exchange/paper_path.h"

#include "exchange/query_value.h"
#include "platform/gbk.h"

#include <algorithm>
#include <array>
#include <vector>

namespace exchange {
namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;
constexpr std::string_view kForbiddenCharacters = "<>:\"|?*";

char AsciiUpper(char byte) { return (byte >= 'a' && byte <= 'z') ? static_cast<char>(byte - 'a' + 'A') : byte; }
char AsciiLower(char byte) { return (byte >= 'A' && byte <= 'Z') ? static_cast<char>(byte - 'A' + 'a') : byte; }

std::string AsciiUpper(std::string_view text) {
  std::string upper;
  for (char byte : text) upper.push_back(AsciiUpper(byte));
  return upper;
}

// Windows opens "x.exe. . " as "x.exe".
std::string_view AsWindowsNamesIt(std::string_view name) {
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.remove_suffix(1);
  return name;
}

// Whether a name in the download folder reaches the program's own folder on Windows: any case, trailing dots and
// blanks, or a short name NTFS may have given the folder, its letters without the dot ("VEXTAL~1") or, once a few of
// those are taken, their first two and four hex digits ("VE3A1F~1").
bool NamesProgramFolder(std::string_view segment) {
  const std::string name = AsciiUpper(AsWindowsNamesIt(segment));
  const std::string folder = AsciiUpper(kProgramFolderName);
  if (name == folder) return true;
  constexpr std::size_t kShortNameLength = 8;
  constexpr std::size_t kLettersAlwaysKept = 2;
  const std::size_t tilde = name.rfind('~');
  if (name.size() > kShortNameLength || tilde == std::string::npos || tilde + 1 == name.size()) return false;
  const std::string_view number = std::string_view(name).substr(tilde + 1);
  if (number.find_first_not_of("0123456789") != std::string_view::npos) return false;
  return name.starts_with(folder.substr(1, kLettersAlwaysKept));
}

// Windows maps these names to devices in every folder, with or without an extension and trailing blanks.
bool IsDeviceName(std::string_view segment) {
  std::string_view base = segment.substr(0, segment.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  const std::string upper = AsciiUpper(base);
  static constexpr std::array<std::string_view, 4> kPlainDevices = {"CON", "PRN", "AUX", "NUL"};
  for (std::string_view device : kPlainDevices) {
    if (upper == device) return true;
  }
  constexpr std::size_t kNumberedDeviceLength = 4;
  if (upper.size() == kNumberedDeviceLength && (upper.starts_with("COM") || upper.starts_with("LPT"))) {
    return upper[3] >= '1' && upper[3] <= '9';
  }
  return false;
}

// File types that run code when the shell opens them, lower case and sorted. Taken from the attachment types Microsoft
// Outlook blocks as able to run code (programs, scripts, shortcuts, installers, control-panel items, compiled help,
// Office and Access macro projects, registry files), the default PATHEXT, the disk images that Explorer mounts with a
// click (their content escapes the Internet mark), and what a Linux desktop runs or installs on a double-click
// (desktop entries, shell scripts, self-extracting installers, AppImages, distribution packages). Documents, archives
// and pictures are not here: they open in a viewer.
constexpr std::array<std::string_view, 133> kRunnableExtensions = {
    "ade", "adp", "app", "appimage", "application", "appref-ms", "appx", "appxbundle", "asp", "aspx", "asx", "bas",
    "bash", "bat", "bgi", "chm", "cmd", "cnt", "com", "cpl", "csh", "deb", "desktop", "diagcab", "exe", "flatpak",
    "flatpakref", "fxp", "gadget", "grp", "hlp", "hpj", "hta", "htc", "img", "inf", "ins", "iso", "isp", "its", "jar",
    "jnlp", "js", "jse", "ksh", "library-ms", "lnk", "mad", "maf", "mag", "mam", "maq", "mar", "mas", "mat", "mau",
    "mav", "maw", "mcf", "mda", "mdb", "mde", "mdt", "mdw", "mdz", "msc", "msh", "msh1", "msh1xml", "msh2", "msh2xml",
    "mshxml", "msi", "msix", "msixbundle", "msp", "mst", "msu", "ops", "osd", "pcd", "pif", "pl", "plg", "prf", "prg",
    "ps1", "ps1xml", "ps2", "ps2xml", "psc1", "psc2", "psd1", "psdm1", "py", "pyc", "pyo", "pyw", "pyz", "pyzw", "rb",
    "reg", "rpm", "run", "scf", "scr", "sct", "searchconnector-ms", "settingcontent-ms", "sh", "shb", "shs", "snap",
    "theme", "url", "vb", "vbe", "vbp", "vbs", "vhd", "vhdx", "vsmacros", "vsw", "website", "ws", "wsb", "wsc", "wsf",
    "wsh", "xbap", "xll", "xnk", "zsh",
};
static_assert(std::is_sorted(kRunnableExtensions.begin(), kRunnableExtensions.end()));

bool HasRunnableExtension(std::string_view name) {
  name = AsWindowsNamesIt(name);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  std::string extension;
  for (char byte : name.substr(dot + 1)) extension.push_back(AsciiLower(byte));
  return std::binary_search(kRunnableExtensions.begin(), kRunnableExtensions.end(), extension);
}

bool IsSafeSegment(std::string_view segment) {
  if (segment.empty()) return false;
  if (segment.find_first_not_of(". ") == std::string_view::npos) return false;
  return !IsDeviceName(segment);
}

}  // namespace

std::string UploadPathOf(std::string_view answer) {
  // The bytes a query value cannot carry raw are exactly those a path cannot: the same escaping serves both.
  std::string path(kUploadPrefix);
  path.append(QueryValueOf(answer));
  return path;
}

std::string LocalNameOf(std::string_view answer) {
  const std::size_t slash = answer.find('/');
  if (slash == std::string_view::npos) return std::string(answer);
  return std::string(answer.substr(slash + 1));
}

bool IsSafeLocalName(std::string_view name) {
  if (name.empty()) return false;
  const std::string local = platform::BackslashesAsSlashes(name);
  std::vector<std::string_view> segments;
  std::size_t segmentStart = 0;
  std::size_t at = 0;
  while (at < local.size()) {
    const auto byte = static_cast<unsigned char>(local[at]);
    if (platform::IsGbkLeadByte(byte)) {
      // Decoders differ on whether a broken character swallows the byte after it, so such a name is never trusted.
      if (at + 1 >= local.size() || !platform::IsGbkTrailByte(static_cast<unsigned char>(local[at + 1]))) return false;
      at += 2;
      continue;
    }
    if (byte < kFirstPrintable || byte == kDelete) return false;
    if (kForbiddenCharacters.find(static_cast<char>(byte)) != std::string_view::npos) return false;
    if (byte == '/') {
      segments.push_back(std::string_view(local).substr(segmentStart, at - segmentStart));
      segmentStart = at + 1;
    }
    ++at;
  }
  segments.push_back(std::string_view(local).substr(segmentStart));
  // A leading separator shows up as an empty first segment, so absolute names fall out with the empty ones.
  for (std::string_view segment : segments) {
    if (!IsSafeSegment(segment)) return false;
  }
  // A server that could name a file in there could overwrite a record of another paper's, or have its own file
  // cleared away as debris at the next start.
  return !NamesProgramFolder(segments.front());
}

std::optional<std::string> SafeLocalNameOf(std::string_view answer) {
  const std::string local = LocalNameOf(answer);
  if (!IsSafeLocalName(local)) return std::nullopt;
  return platform::BackslashesAsSlashes(local);
}

bool IsRunnableFileName(std::string_view name) {
  // Only the last segment names the file ("a.exe/x.pdf" is a PDF in an odd folder). A GBK second byte 0x5C taken for
  // a separator only ever shortens it after the last dot, where no ASCII extension can stand.
  const std::size_t separator = name.find_last_of("/\\");
  std::string_view segment = separator == std::string_view::npos ? name : name.substr(separator + 1);
  // Windows reads "x.exe::$DATA" as x.exe and "C:x.exe" as x.exe on drive C: every part around a colon counts.
  for (std::size_t colon = segment.find(':'); colon != std::string_view::npos; colon = segment.find(':')) {
    if (HasRunnableExtension(segment.substr(0, colon))) return true;
    segment.remove_prefix(colon + 1);
  }
  return HasRunnableExtension(segment);
}

}  // namespace exchange
