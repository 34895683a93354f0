#include "exchange/paper_path.h"

#include "platform/environment.h"
#include "platform/internet_mark.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace exchange {
namespace {

TEST(LocalNameOf, DropsEverythingUpToTheFirstSlash) {
  struct Case {
    const char* label;
    std::string answer;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"folder and file", "2019/paper.pdf", "paper.pdf"},
      {"no slash", "paper.pdf", "paper.pdf"},
      {"sub-folder stays", "a/sub/b.pdf", "sub/b.pdf"},
      {"leading slash", "/x.pdf", "x.pdf"},
      {"backslash is not the first slash", "a\\b/c.pdf", "c.pdf"},
      {"GBK name with a blank", "2020/\xB8\xDF\xBF\xBC \xCA\xFD.pdf", "\xB8\xDF\xBF\xBC \xCA\xFD.pdf"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LocalNameOf(c.answer), c.expected) << c.label;
  }
}

TEST(UploadPathOf, EscapesOnlyWhatCannotStandRawInARequestTarget) {
  struct Case {
    const char* label;
    std::string answer;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"plain", "2024/p.pdf", "/Upload/2024/p.pdf"},
      {"empty", "", "/Upload/"},
      {"blank", "2024/\xCA\xD4\xBE\xED 9.pdf", "/Upload/2024/\xCA\xD4\xBE\xED%209.pdf"},
      {"several blanks", "a/x  y .pdf", "/Upload/a/x%20%20y%20.pdf"},
      {"tab", "a/x\ty.pdf", "/Upload/a/x%09y.pdf"},
      {"control bytes and DEL", std::string("a/\x01\x1F\x7F\0.pdf", 10), "/Upload/a/%01%1F%7F%00.pdf"},
      {"line break", "a/x\r\nHost: evil", "/Upload/a/x%0D%0AHost:%20evil"},
      {"percent stays", "a/100%.pdf", "/Upload/a/100%.pdf"},
      {"GBK stays, second byte 0x5C too", "\xB8\xDF/\xD5\\.pdf", "/Upload/\xB8\xDF/\xD5\\.pdf"},
      {"backslash left to the client", "a\\b.pdf", "/Upload/a\\b.pdf"},
      {"fragment mark", "a/#1.pdf", "/Upload/a/%231.pdf"},
      {"query marks stay", "a/x?y=1", "/Upload/a/x?y=1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UploadPathOf(c.answer), c.expected) << c.label;
  }
}

TEST(IsRunnableFileName, RefusesWhatTheShellWouldRun) {
  struct Case {
    const char* label;
    std::string name;
    bool runnable;
  };
  const std::vector<Case> cases = {
      {"program", "\xCA\xD4\xBE\xED.exe", true},
      {"upper case", "PAPER.EXE", true},
      {"mixed case", "x.Scr", true},
      {"double extension", "a.pdf.exe", true},
      {"batch", "x.bat", true},
      {"shortcut", "x.lnk", true},
      {"desktop entry", "x.desktop", true},
      {"shell script", "install.sh", true},
      {"installer", "setup.msi", true},
      {"control-panel item", "x.cpl", true},
      {"compiled help", "x.chm", true},
      {"disk image", "x.iso", true},
      {"trailing dot", "x.exe.", true},
      {"trailing dots and blanks", "x.exe. . ", true},
      {"in a sub-folder", "sub/x.js", true},
      {"after a backslash", "sub\\x.vbs", true},
      {"stream suffix", "x.exe::$DATA", true},
      {"drive-relative", "C:x.com", true},
      {"pdf", "\xCA\xD4\xBE\xED.pdf", false},
      {"Word", "x.doc", false},
      {"Word 2007", "x.DOCX", false},
      {"WPS", "x.wps", false},
      {"spreadsheet", "x.xlsx", false},
      {"slides", "x.pptx", false},
      {"text", "x.txt", false},
      {"rich text", "x.rtf", false},
      {"CAJ", "x.caj", false},
      {"zip", "x.zip", false},
      {"rar", "x.rar", false},
      {"7z", "x.7z", false},
      {"picture", "x.jpg", false},
      {"png", "x.png", false},
      {"unknown type", "x.abc", false},
      {"program word inside the name", "exe.pdf", false},
      {"program as the middle extension", "a.exe.pdf", false},
      {"no extension", "README", false},
      {"empty", "", false},
      {"dots only", "...", false},
      {"dotted folder", "a.exe/paper", false},
      {"GBK second byte 0x5C after the dot", "x.\xD5\\", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsRunnableFileName(c.name), c.runnable) << c.label;
  }
}

TEST(MarkFromInternet, WritesZoneThreeAndTheAddressBesideAnUntouchedFile) {
  const std::string url = "http://127.0.0.1:8080/Upload/2024/a%20b.pdf";
  EXPECT_EQ(platform::ZoneIdentifierText(url), "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=" + url + "\r\n");

  const std::filesystem::path file = std::filesystem::temp_directory_path() / "vextal-mark-test.pdf";
  // Where a volume has no streams, such a name would be a second file beside the paper.
  const std::filesystem::path streamPath = std::filesystem::path(file) += ":Zone.Identifier";
  std::error_code ignored;
  std::filesystem::remove(streamPath, ignored);  // as an earlier run under Wine may have left it
  std::filesystem::remove(file, ignored);
  { std::ofstream(file, std::ios::binary) << "%PDF"; }
  const bool marked = platform::MarkFromInternet(file, url);
  std::stringstream content;
  content << std::ifstream(file, std::ios::binary).rdbuf();
  EXPECT_EQ(content.str(), "%PDF");
  // NTFS keeps the stream, Linux's file systems the attribute (tmpfs only since Linux 6.6); Wine's file systems keep
  // no stream, and the download goes on unmarked there as on FAT, with no second file beside the paper.
  if (marked) {
    EXPECT_EQ(platform::InternetMarkOf(file), platform::RunsOnWindows() ? platform::ZoneIdentifierText(url) : url);
  } else {
    EXPECT_EQ(platform::InternetMarkOf(file), "");
    EXPECT_FALSE(std::filesystem::exists(streamPath));
  }
  std::filesystem::remove(file);
}

TEST(SafeLocalNameOf, KeepsNamesInsideTheDownloadFolder) {
  struct Case {
    const char* label;
    std::string answer;
    std::optional<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"folder and file", "2019/paper.pdf", "paper.pdf"},
      {"no slash", "paper.pdf", "paper.pdf"},
      {"sub-folder", "a/sub/b.pdf", "sub/b.pdf"},
      {"blank inside a name", "a/my paper.pdf", "my paper.pdf"},
      {"dots inside a name", "a/v1.2..final.pdf", "v1.2..final.pdf"},
      {"GBK name", "a/\xB8\xDF\xBF\xBC.pdf", "\xB8\xDF\xBF\xBC.pdf"},
      // 0x5C as the second byte of a character (here "\xD5\x5C") is not a separator, so no ".." segment appears.
      {"GBK second byte 0x5C", "a/\xD5\\..", "\xD5\\.."},
      {"backslash sub-folder, written with a slash", "a/sub\\b.pdf", "sub/b.pdf"},
      {"device-like but longer", "a/console.pdf", "console.pdf"},
      {"empty answer", "", std::nullopt},
      {"folder only", "a/", std::nullopt},
      {"absolute after the first slash", "a//etc/passwd", std::nullopt},
      {"absolute with backslash", "a/\\etc\\passwd", std::nullopt},
      {"UNC share", "a/\\\\server\\share\\x.pdf", std::nullopt},
      {"drive letter", "a/C:/Windows/x.dll", std::nullopt},
      {"drive-relative", "a/C:x.pdf", std::nullopt},
      {"alternate stream", "a/x.pdf:hidden", std::nullopt},
      {"parent segment", "a/../x.pdf", std::nullopt},
      {"parent segment later", "a/sub/../../x.pdf", std::nullopt},
      {"parent with backslash", "a/..\\x.pdf", std::nullopt},
      {"parent with trailing blank and dot", "a/.. ./x.pdf", std::nullopt},
      {"whole name is parent", "a/..", std::nullopt},
      {"current folder", "a/./x.pdf", std::nullopt},
      {"empty segment", "a/sub//x.pdf", std::nullopt},
      {"trailing separator", "a/sub/", std::nullopt},
      {"line break", "a/x\n.pdf", std::nullopt},
      {"DEL byte", "a/x\x7f.pdf", std::nullopt},
      {"NUL byte", std::string("a/x\0.pdf", 8), std::nullopt},
      {"wildcard", "a/*.pdf", std::nullopt},
      {"device name", "a/CON", std::nullopt},
      {"device name with extension", "a/sub/nul.pdf", std::nullopt},
      {"numbered device", "a/com1.txt", std::nullopt},
      // A lead byte before a separator is a broken character: decoders disagree on whether the "/" survives.
      {"lead byte before a separator", "a/\x81/../x", std::nullopt},
      {"lead byte at the end", "a/x\xB9", std::nullopt},
      // The program's own folder is out of every server's reach, however Windows would spell it.
      {"program folder", "a/.vextal", std::nullopt},
      {"file in the program folder", "a/.vextal/0123456789abcdef.part", std::nullopt},
      {"program folder in capitals", "a/.VEXTAL\\0123456789abcdef.resume", std::nullopt},
      {"program folder with trailing dots and blanks", "a/.vextal. ./x.pdf", std::nullopt},
      {"program folder's short name", "a/vextal~1/x.part", std::nullopt},
      {"program folder's hashed short name", "a/VE3A1F~2./x.part", std::nullopt},
      {"a name like the program's", "a/.vextal-1234abcd.part", ".vextal-1234abcd.part"},
      {"the program folder's name deeper down", "a/sub/.vextal/x.pdf", "sub/.vextal/x.pdf"},
      {"a longer name", "a/.vextals/x.pdf", ".vextals/x.pdf"},
      {"a short name of another folder", "a/PAPERS~1/x.pdf", "PAPERS~1/x.pdf"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SafeLocalNameOf(c.answer), c.expected) << c.label;
  }
}

}  // namespace
}  // namespace exchange
