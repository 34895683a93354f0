#pragma once

#include "exchange/server_pages.h"

#include <optional>
#include <string>
#include <string_view>

// Where a downloaded paper comes from and where it goes, in GBK bytes. The file-name page answers the paper's path
// inside the server's upload area ("folder/file.pdf"); the client fetches it whole and stores it under the download
// folder without its first segment.
namespace exchange {

// "/Upload/" + answer, with the bytes that cannot stand raw in a request target (blanks, control bytes, DEL, "#")
// written as %XX: standard servers refuse a request line that a blank splits, and "#" would cut the name off as a
// fragment. Everything else stays as the server sent it (GBK bytes, "%", "/"); a backslash still travels as a slash.
std::string UploadPathOf(std::string_view answer);

// The answer without everything up to and including its first "/"; the whole answer when it has none. ("/" can
// never be the second byte of a GBK character, so a byte search is exact here.)
std::string LocalNameOf(std::string_view answer);

// The program's own folder inside the download folder, where papers stream in before they are whole.
inline constexpr std::string_view kProgramFolderName = ".vextal";

// Whether a local name stays inside the download folder on every platform, out of the program's own folder.
// Refused: an empty name; an absolute name ("/x", "\\x", "\\\\server\\share"); any segment that is empty, made only
// of dots and blanks ("..", ". .", Windows drops trailing dots and blanks), or a Windows device name (CON, NUL, COM1,
// "aux.pdf"...); a first segment that is the program's folder as Windows finds it (without regard to case or to
// trailing dots and blanks, or by a short 8.3 name NTFS may give it); a control byte (below 0x20, 0x7F, NUL); a
// character Windows forbids in names (< > : " | ? *, which also covers drive letters and alternate streams); a GBK
// lead byte without a valid second byte. "\\" separates segments as "/" does, except as the second byte of a GBK
// character.
bool IsSafeLocalName(std::string_view local);

// LocalNameOf(answer) when it is safe, with every separator written "/", nothing otherwise.
std::optional<std::string> SafeLocalNameOf(std::string_view answer);

// Whether handing a file of this name to the shell could run code: its extension (the last one, without regard to
// case, after the trailing dots and blanks Windows drops) is a program, script, shortcut, installer or the like on
// Windows or a Linux desktop. The content server is reached over plain HTTP, so it must never be able to choose one.
bool IsRunnableFileName(std::string_view name);

}  // namespace exchange
