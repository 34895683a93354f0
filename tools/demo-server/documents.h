#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Small but real documents for the sample bank, so a downloaded paper opens in the desktop's viewer.
namespace demo {

struct PdfContent {
  std::string titleUtf8;               // shown by viewers as the document title
  std::vector<std::string> asciiLines;  // the page text (the built-in fonts carry no Chinese)
  std::size_t imageBytes = 0;           // > 0 adds a noise picture of about that size, to make a large file
  unsigned seed = 1;
};

// A one-page PDF 1.4 document with a correct cross-reference table.
std::string MakePdf(const PdfContent& content);

}  // namespace demo
