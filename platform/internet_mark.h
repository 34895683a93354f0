#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// A paper comes from a server reached over plain HTTP, so it carries the mark of the Internet as a browser's download
// would: viewers then open it in their protected mode and the shell warns before anything in it runs.
namespace platform {

// The Zone.Identifier stream's text for a file fetched from hostUrl: zone 3 (Internet) and the address.
std::string ZoneIdentifierText(std::string_view hostUrl);

// Writes the mark: on Windows the file's Zone.Identifier stream, elsewhere the desktop's "user.xdg.origin.url"
// attribute. Returns whether it was written; a file system without streams or attributes (FAT, some network shares)
// cannot keep it, and a browser's download goes on without it there too.
bool MarkFromInternet(const std::filesystem::path& file, std::string_view hostUrl);

// The mark a file carries as written above: the stream's text on Windows, the attribute's address elsewhere; empty
// when it carries none.
std::string InternetMarkOf(const std::filesystem::path& file);

}  // namespace platform
