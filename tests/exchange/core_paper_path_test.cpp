#include "exchange/paper_path.h"

#include <gtest/gtest.h>

#include <optional>
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
      {"backslash sub-folder", "a/sub\\b.pdf", "sub\\b.pdf"},
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
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SafeLocalNameOf(c.answer), c.expected) << c.label;
  }
}

}  // namespace
}  // namespace exchange
