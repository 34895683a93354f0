#include "documents.h"

#include <algorithm>
#include <cstdio>

#include "charset.h"

namespace demo {
namespace {

constexpr int kPageWidth = 595;  // A4 in points
constexpr int kPageHeight = 842;
constexpr int kImageWidth = 1024;
constexpr int kBytesPerPixel = 3;
constexpr int kFirstLineY = 790;
constexpr int kLineHeight = 16;

std::string EscapePdfText(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '(' || c == ')' || c == '\\') out.push_back('\\');
    out.push_back(static_cast<unsigned char>(c) < 0x80 ? c : '?');
  }
  return out;
}

// PDF text strings outside Latin-1 are UTF-16BE with a byte-order mark, written as hex.
std::string Utf16HexString(const std::string& utf8) {
  const std::string utf16 = Convert(utf8, "UTF-16BE", "UTF-8").value_or("");
  std::string out = "<FEFF";
  char hex[3];
  for (unsigned char byte : utf16) {
    std::snprintf(hex, sizeof hex, "%02X", byte);
    out += hex;
  }
  return out + ">";
}

std::string NoiseImage(std::size_t height, unsigned seed) {
  std::string pixels(static_cast<std::size_t>(kImageWidth) * height * kBytesPerPixel, '\0');
  unsigned state = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    state = state * 1664525u + 1013904223u;
    // A soft gradient under the noise, so the picture is not plain static.
    const std::size_t row = i / (kImageWidth * kBytesPerPixel);
    pixels[i] = static_cast<char>(((row * 255) / (height ? height : 1) + (state >> 27)) & 0xFF);
  }
  return pixels;
}

}  // namespace

std::string MakePdf(const PdfContent& content) {
  std::vector<std::string> objects;  // object n is objects[n - 1]
  const bool withImage = content.imageBytes > 0;
  const std::size_t imageHeight =
      withImage ? std::max<std::size_t>(1, content.imageBytes / (kImageWidth * kBytesPerPixel)) : 0;

  std::string stream = "BT /F1 12 Tf " + std::to_string(kLineHeight) + " TL 56 " + std::to_string(kFirstLineY) + " Td\n";
  for (const std::string& line : content.asciiLines) stream += "(" + EscapePdfText(line) + ") Tj T*\n";
  stream += "ET\n";
  if (withImage) {
    const int shownHeight = static_cast<int>(480.0 * static_cast<double>(imageHeight) / kImageWidth);
    stream += "q 480 0 0 " + std::to_string(shownHeight) + " 56 " + std::to_string(360 - shownHeight / 2) +
              " cm /Im1 Do Q\n";
  }

  objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
  objects.push_back("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  std::string resources = "<< /Font << /F1 4 0 R >>";
  if (withImage) resources += " /XObject << /Im1 7 0 R >>";
  resources += " >>";
  objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(kPageWidth) + " " +
                    std::to_string(kPageHeight) + "] /Resources " + resources + " /Contents 5 0 R >>");
  objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
  objects.push_back("<< /Length " + std::to_string(stream.size()) + " >>\nstream\n" + stream + "endstream");
  objects.push_back("<< /Title " + Utf16HexString(content.titleUtf8) + " /Producer (Vextal demo server) >>");
  if (withImage) {
    const std::string pixels = NoiseImage(imageHeight, content.seed);
    objects.push_back("<< /Type /XObject /Subtype /Image /Width " + std::to_string(kImageWidth) + " /Height " +
                      std::to_string(imageHeight) + " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Length " +
                      std::to_string(pixels.size()) + " >>\nstream\n" + pixels + "\nendstream");
  }

  std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xrefOffset = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  char entry[32];
  for (std::size_t offset : offsets) {
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
    pdf += entry;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R /Info 6 0 R >>\nstartxref\n" +
         std::to_string(xrefOffset) + "\n%%EOF\n";
  return pdf;
}

}  // namespace demo
