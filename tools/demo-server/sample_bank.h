#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

// A generated bank of exam papers: the catalogue records the update pages hand out and the files behind them.
// Generation is deterministic, so a root folder made by an earlier run matches the records of the next one.
namespace demo {

enum class DocumentKind { Pdf, Text };

// Texts in UTF-8; the server converts them to GBK on the wire.
struct Paper {
  long long number = 0;  // the server's paper number (F_id)
  std::string title;     // F_SJMC
  std::string exam;      // F_KM: "公务员考试" or "高考"
  std::string subject;   // F_ZFL1
  std::string category;  // F_LB
  std::string description;  // F_MS
  std::string path;      // "folder/file" under Upload/, empty when the paper has no file
  DocumentKind kind = DocumentKind::Pdf;
  std::size_t largeBytes = 0;  // > 0 for the few large files
  int year = 0;
};

inline constexpr long long kFirstPaperNumber = 1001;

std::vector<Paper> MakeSampleBank(std::size_t count);

// Writes every paper's file under root/Upload/ that is not there yet. Returns the number of files written.
std::size_t GenerateFiles(const std::vector<Paper>& papers, const std::filesystem::path& root);

}  // namespace demo
