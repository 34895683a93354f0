#pragma once

#include <optional>
#include <string>

// The demo server keeps its texts in UTF-8 and speaks GBK on the wire, as the real content server does.
namespace demo {

// Converts with iconv(3); nothing when the text does not convert cleanly.
std::optional<std::string> Convert(const std::string& text, const char* toCharset, const char* fromCharset);

// UTF-8 to GBK. The sample texts are all GBK-representable, so a failure here is a programming error: it throws.
std::string ToGbk(const std::string& utf8);

// GBK to UTF-8, or nothing when the bytes are not GBK.
std::optional<std::string> GbkToUtf8(const std::string& gbk);

// For the request log: the GBK bytes as UTF-8 when they convert, else with every byte above 0x7E as \xNN.
std::string Printable(const std::string& gbk);

}  // namespace demo
