#include "sample_bank.h"

#include <array>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "charset.h"
#include "documents.h"

namespace demo {
namespace {

constexpr int kFirstYear = 2015;
constexpr int kLastYear = 2026;
constexpr std::size_t kEveryNthWithoutFile = 9;
constexpr std::size_t kEveryNthText = 7;
constexpr std::size_t kEveryNthChineseName = 5;
constexpr std::size_t kEveryNthLarge = 70;
constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::array<std::size_t, 4> kLargeSizes = {2 * kMiB, 3 * kMiB, 5 * kMiB, 4 * kMiB};

// A small portable generator: the same bank on every platform and standard library.
class Dice {
 public:
  explicit Dice(unsigned seed) : m_state(seed) {}
  std::size_t Roll(std::size_t sides) {
    m_state = m_state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::size_t>((m_state >> 33) % sides);
  }
  template <typename T, std::size_t N>
  const T& Pick(const std::array<T, N>& items) { return items[Roll(N)]; }

 private:
  unsigned long long m_state;
};

struct SubjectInfo {
  const char* name;
  const char* shortName;  // for ASCII file names
  const char* latinName;  // for the PDF page text
};

constexpr std::array<SubjectInfo, 4> kCivilSubjects = {{
    {"行政职业能力测验", "xingce", "Administrative Aptitude Test"},
    {"申论", "shenlun", "Essay Writing (Shenlun)"},
    {"公共基础知识", "gongji", "General Knowledge"},
    {"面试", "mianshi", "Interview"},
}};

constexpr std::array<SubjectInfo, 9> kGaokaoSubjects = {{
    {"语文", "yuwen", "Chinese"},
    {"数学", "shuxue", "Mathematics"},
    {"英语", "yingyu", "English"},
    {"物理", "wuli", "Physics"},
    {"化学", "huaxue", "Chemistry"},
    {"生物", "shengwu", "Biology"},
    {"历史", "lishi", "History"},
    {"地理", "dili", "Geography"},
    {"思想政治", "zhengzhi", "Politics"},
}};

constexpr std::array<const char*, 9> kCivilRegions = {"国家", "北京市", "上海市", "广东省", "江苏省",
                                                      "浙江省", "山东省", "四川省", "湖北省"};
constexpr std::array<const char*, 3> kNationalLevels = {"副省级", "地市级", "行政执法类"};
constexpr std::array<const char*, 7> kGaokaoPapers = {"全国甲卷", "全国乙卷", "新高考I卷", "新高考II卷",
                                                      "北京卷", "上海卷", "天津卷"};
constexpr std::array<const char*, 5> kMockSources = {"海淀区高三一模", "朝阳区高三二模", "黄冈中学模拟",
                                                     "衡水中学押题", "江苏省联考"};
constexpr std::array<const char*, 5> kMockNumbers = {"（一）", "（二）", "（三）", "（四）", "（五）"};

struct ExamShape {
  int questions;
  int points;
  int minutes;
};

ExamShape ShapeOf(const std::string& subject, Dice& dice) {
  if (subject == "行政职业能力测验") return {static_cast<int>(120 + dice.Roll(4) * 5), 100, 120};
  if (subject == "申论") return {static_cast<int>(4 + dice.Roll(2)), 100, 180};
  if (subject == "公共基础知识") return {static_cast<int>(100 + dice.Roll(3) * 10), 100, 120};
  if (subject == "面试") return {static_cast<int>(3 + dice.Roll(2)), 100, 20};
  if (subject == "语文" || subject == "数学" || subject == "英语") return {static_cast<int>(19 + dice.Roll(6)), 150, 120};
  return {static_cast<int>(15 + dice.Roll(8)), 100, 75};
}

Paper CivilServicePaper(int year, Dice& dice) {
  const SubjectInfo& subject = dice.Pick(kCivilSubjects);
  const std::string region = dice.Pick(kCivilRegions);
  const bool mock = dice.Roll(3) == 0;
  Paper paper;
  paper.exam = "公务员考试";
  paper.subject = subject.name;
  paper.category = mock ? "模拟题" : "真题";
  paper.title = std::to_string(year) + "年" + region + "公务员考试《" + subject.name + "》" + paper.category;
  if (mock) {
    paper.title += dice.Pick(kMockNumbers);
  } else if (region == "国家") {
    paper.title += std::string("（") + dice.Pick(kNationalLevels) + "）";
  }
  const ExamShape shape = ShapeOf(subject.name, dice);
  paper.description = "共" + std::to_string(shape.questions) + "题，满分" + std::to_string(shape.points) +
                      "分，考试时间" + std::to_string(shape.minutes) + "分钟。" +
                      (mock ? "附参考答案。" : "附参考答案与详细解析。");
  return paper;
}

Paper GaokaoPaper(int year, Dice& dice) {
  const SubjectInfo& subject = dice.Pick(kGaokaoSubjects);
  const bool mock = dice.Roll(3) == 0;
  Paper paper;
  paper.exam = "高考";
  paper.subject = subject.name;
  paper.category = mock ? "模拟题" : "真题";
  if (mock) {
    paper.title = std::to_string(year) + "年" + dice.Pick(kMockSources) + "《" + subject.name + "》模拟题";
  } else {
    paper.title = std::to_string(year) + "年普通高等学校招生全国统一考试《" + subject.name + "》真题（" +
                  dice.Pick(kGaokaoPapers) + "）";
  }
  const ExamShape shape = ShapeOf(subject.name, dice);
  paper.description = "共" + std::to_string(shape.questions) + "题，满分" + std::to_string(shape.points) +
                      "分，考试时间" + std::to_string(shape.minutes) + "分钟。含答案。";
  return paper;
}

const SubjectInfo& InfoOf(const std::string& subject) {
  for (const SubjectInfo& info : kCivilSubjects) {
    if (subject == info.name) return info;
  }
  for (const SubjectInfo& info : kGaokaoSubjects) {
    if (subject == info.name) return info;
  }
  throw std::logic_error("unknown subject " + subject);
}

std::string TextDocument(const Paper& paper) {
  std::string text = paper.title + "\r\n\r\n" + paper.description + "\r\n\r\n注意事项：\r\n"
                     "1．答题前，考生务必将自己的姓名、准考证号填写在答题卡上。\r\n"
                     "2．所有答案必须写在答题卡上，写在试卷上无效。\r\n\r\n";
  for (int question = 1; question <= 10; ++question) {
    text += std::to_string(question) + "．下列说法中，正确的一项是（    ）\r\n"
            "    A．选项一    B．选项二    C．选项三    D．选项四\r\n\r\n";
  }
  text += "（本文件由 Vextal 演示服务器生成）\r\n";
  return ToGbk(text);
}

std::string PdfDocument(const Paper& paper) {
  PdfContent content;
  content.titleUtf8 = paper.title;
  content.seed = static_cast<unsigned>(paper.number);
  content.imageBytes = paper.largeBytes;
  const SubjectInfo& info = InfoOf(paper.subject);
  const bool civil = paper.exam == "公务员考试";
  content.asciiLines = {
      "Vextal demo paper No. " + std::to_string(paper.number),
      std::string(civil ? "Civil service examination" : "National college entrance examination (Gaokao)") + ", " +
          std::to_string(paper.year),
      std::string("Subject: ") + info.latinName + "    Category: " + (paper.category == "真题" ? "past paper" : "mock paper"),
      "",
      "Generated by the Vextal demo server; the original title is in the document properties.",
      "",
  };
  for (int question = 1; question <= 12; ++question) {
    content.asciiLines.push_back("Question " + std::to_string(question) +
                                 ".  Which of the following statements is correct?   (A)  (B)  (C)  (D)");
  }
  return MakePdf(content);
}

void WriteFileAtomically(const std::filesystem::path& target, const std::string& bytes) {
  std::filesystem::create_directories(target.parent_path());
  std::filesystem::path temporary = target;
  temporary += ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + temporary.string());
  }
  std::filesystem::rename(temporary, target);
}

}  // namespace

std::vector<Paper> MakeSampleBank(std::size_t count) {
  std::vector<Paper> papers;
  Dice dice(20150601);
  const int years = kLastYear - kFirstYear + 1;
  std::size_t largeUsed = 0;
  for (std::size_t i = 0; i < count; ++i) {
    // Numbers grow with time, so the newest papers are the latest years.
    const int year = kFirstYear + static_cast<int>(i * static_cast<std::size_t>(years) / (count ? count : 1));
    Paper paper = dice.Roll(2) == 0 ? CivilServicePaper(year, dice) : GaokaoPaper(year, dice);
    paper.number = kFirstPaperNumber + static_cast<long long>(i);
    paper.year = year;
    const std::string folder = std::to_string(year) + (paper.exam == "高考" ? "06" : "11");
    if (i % kEveryNthWithoutFile == kEveryNthWithoutFile - 1) {
      papers.push_back(std::move(paper));
      continue;
    }
    if (i % kEveryNthLarge == 3 && largeUsed < kLargeSizes.size()) {
      // A few are enough to watch the progress bar; a big bank must not fill the disk.
      paper.largeBytes = kLargeSizes[largeUsed++];
    } else if (i % kEveryNthText == 2) {
      paper.kind = DocumentKind::Text;
    }
    const char* extension = paper.kind == DocumentKind::Text ? ".txt" : ".pdf";
    if (i % kEveryNthChineseName == 1) {
      // The name the uploader gave, Chinese with a blank, as real uploads often carry.
      paper.path = folder + "/" + std::to_string(year) + "年 " + paper.exam + paper.subject + paper.category +
                   "_" + std::to_string(paper.number) + extension;
    } else {
      paper.path = folder + "/" + (paper.exam == "高考" ? "gk" : "gwy") + "_" + InfoOf(paper.subject).shortName +
                   "_" + std::to_string(paper.number) + extension;
    }
    papers.push_back(std::move(paper));
  }
  return papers;
}

std::size_t GenerateFiles(const std::vector<Paper>& papers, const std::filesystem::path& root) {
  std::size_t written = 0;
  for (const Paper& paper : papers) {
    if (paper.path.empty()) continue;
    const std::filesystem::path target = root / "Upload" / paper.path;
    std::error_code error;
    if (std::filesystem::is_regular_file(target, error)) continue;
    WriteFileAtomically(target, paper.kind == DocumentKind::Text ? TextDocument(paper) : PdfDocument(paper));
    ++written;
  }
  return written;
}

}  // namespace demo
