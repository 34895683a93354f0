#include "download/partial_file.h"
#include "download/resumable_fetch.h"

#include "net/http_client.h"
#include "tests/support/child_process.h"
#include "tests/support/loopback_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace download {
namespace {

namespace fs = std::filesystem;
using testsupport::Action;
using testsupport::Answer;

constexpr const char* kTag = "\"v1\"";
// Long enough that only the silence rule, never the read limit, ends a silence within a test.
constexpr int kReadLimitMs = 60'000;
constexpr int kShortCutMs = 150;
constexpr std::size_t kEighth = 96 * 1024;

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string PaperBytes(std::size_t size, char seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(seed + i % 251);
  return bytes;
}

// How the server answers one request for a paper: the bytes it sends from where the request asked, up to `upTo`
// (npos: the end), and what follows them.
struct Step {
  enum class Then { kEnd, kClose, kSilence };
  std::size_t upTo = std::string::npos;
  Then then = Then::kEnd;
  std::string status;  // an answer of its own in place of the paper (a 204, an empty 200)
};

Step Cut(std::size_t upTo, Step::Then then = Step::Then::kClose) { return {upTo, then, {}}; }
Step Whole() { return {}; }
Step Instead(std::string answer) { return {std::string::npos, Step::Then::kEnd, std::move(answer)}; }

// Serves papers at their paths by the steps given, one step a request, and counts the body bytes it sent.
class PaperServer {
 public:
  void Serve(const std::string& path, std::string bytes, std::vector<Step> steps) {
    m_papers.push_back({path, std::move(bytes), std::move(steps)});
  }
  void Start() {
    server.SetHandler([this](const std::string& request) { return Answer(request); });
  }
  std::size_t BodyBytesSent() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sent;
  }

  testsupport::LoopbackServer server;

 private:
  struct Paper {
    std::string path;
    std::string bytes;
    std::vector<Step> steps;
    std::size_t next = 0;
  };

  testsupport::Answer Answer(const std::string& request) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Paper& paper : m_papers) {
      if (request.rfind("GET " + paper.path + " ", 0) != 0) continue;
      const Step step = paper.next < paper.steps.size() ? paper.steps[paper.next] : Whole();
      ++paper.next;
      if (!step.status.empty()) return {Action::Send(step.status)};
      const std::string rangeHeader = "Range: bytes=";
      const std::size_t range = request.find(rangeHeader);
      const std::size_t from = range == std::string::npos ? 0 : std::stoul(request.substr(range + rangeHeader.size()));
      const std::size_t total = paper.bytes.size();
      std::string head = from == 0 ? "HTTP/1.1 200 OK\r\n"
                                   : "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(from) +
                                         "-" + std::to_string(total - 1) + "/" + std::to_string(total) + "\r\n";
      head += "Content-Length: " + std::to_string(total - from) + "\r\nETag: " + kTag + "\r\n\r\n";
      const std::string body = paper.bytes.substr(from, std::min(step.upTo, total) - from);
      m_sent += body.size();
      testsupport::Answer answer{Action::Send(head + body)};
      if (step.then == Step::Then::kClose) answer.push_back(Action::Close());
      if (step.then == Step::Then::kSilence) answer.push_back(Action::Hold());
      return answer;
    }
    return {Action::Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")};
  }

  mutable std::mutex m_mutex;
  std::vector<Paper> m_papers;
  std::size_t m_sent = 0;
};

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The whole download of one file: FetchOnce tried as the programs try it, pauses recorded and not slept.
struct Download {
  std::vector<TryResult> tries;
  TryResult last;
};

Download Fetch(net::HttpClient& http, const FetchTarget& target) {
  Download download;
  FetchHooks hooks;
  hooks.nowMs = SteadyMs;
  hooks.shortestSilenceCutMs = kShortCutMs;
  Tries tries;
  tries.attempt = [&] {
    download.tries.push_back(FetchOnce(http, target, hooks));
    return download.tries.back();
  };
  tries.stopped = [] { return false; };
  tries.pause = [](int) { return true; };
  tries.nowMs = SteadyMs;
  tries.nowSeconds = [] { return 0; };
  download.last = tries.Run();
  return download;
}

class ResumableFetchTest : public ::testing::Test {
 protected:
  FetchTarget Target(const std::string& path, const std::string& localName) {
    FetchTarget target;
    target.url = papers.server.Url(path);
    target.file = fs::path(scratch.LocalPath(localName));
    target.partialFolder = fs::path(scratch.LocalPath(".vextal"));
    target.localName = localName;
    return target;
  }

  testsupport::ScratchDirectory scratch;
  PaperServer papers;
};

// Every break, silence and empty answer of a bad afternoon costs a try, never a byte: the paper arrives whole, each
// byte of it sent once, and no try ever puts anything but the whole paper under its name.
TEST_F(ResumableFetchTest, ABadAfternoonCostsTriesButNeverAByte) {
  struct Case {
    const char* label;
    std::vector<Step> steps;
    std::vector<Failure> failures;  // of the tries before the last
    bool silences;                  // the failed tries ended by the silence rule
  };
  using Then = Step::Then;
  const std::size_t paperSize = 8 * kEighth;
  std::vector<Step> breaks;
  std::vector<Step> silences;
  for (std::size_t i = 1; i < 8; ++i) breaks.push_back(Cut(i * kEighth));
  for (std::size_t i = 1; i < 8; ++i) silences.push_back(Cut(i * kEighth, Then::kSilence));
  const std::vector<Failure> sevenBreaks(7, Failure::kNetwork);
  const std::vector<Case> cases = {
      {"seven breaks, each after an eighth", breaks, sevenBreaks, false},
      {"a silence after every eighth", silences, sevenBreaks, true},
      {"204 to the rest", {Cut(paperSize / 2), Instead("HTTP/1.1 204 No Content\r\n\r\n")},
       {Failure::kNetwork, Failure::kNoBody}, false},
      {"an empty 200 to the rest", {Cut(paperSize / 2), Instead("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")},
       {Failure::kNetwork, Failure::kNoBody}, false},
  };
  int number = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string path = "/Upload/" + std::to_string(++number) + ".pdf";
    const std::string paper = PaperBytes(paperSize, static_cast<char>(number));
    papers.Serve(path, paper, c.steps);
    papers.Start();
    const std::size_t sentBefore = papers.BodyBytesSent();
    net::HttpClient http;
    http.ReadTimeout = kReadLimitMs;
    const FetchTarget target = Target(path, std::to_string(number) + ".pdf");

    const Download download = Fetch(http, target);

    EXPECT_TRUE(download.last.Done());
    ASSERT_EQ(download.tries.size(), c.failures.size() + 1);
    for (std::size_t i = 0; i < c.failures.size(); ++i) {
      EXPECT_EQ(download.tries[i].failure, c.failures[i]) << "try " << i + 1;
      if (c.failures[i] == Failure::kNetwork) {
        EXPECT_EQ(download.tries[i].silenceCut, c.silences) << "try " << i + 1;
      }
    }
    EXPECT_EQ(ReadAll(target.file), paper);
    EXPECT_EQ(papers.BodyBytesSent() - sentBefore, paper.size());
    EXPECT_FALSE(fs::exists(PartialPathFor(target.partialFolder, target.url)));
  }
}

// Two papers of one local name in other folders of the server never share a partial file, so a break in one never
// splices its bytes onto the other, whatever validator they share.
TEST_F(ResumableFetchTest, TwoPapersOfOneLocalNameKeepTheirOwnBytes) {
  const std::string older = PaperBytes(4 * kEighth, 'a');
  const std::string newer = PaperBytes(4 * kEighth, 'b');
  papers.Serve("/Upload/2019/x.pdf", older, {Cut(kEighth)});
  papers.Serve("/Upload/2020/x.pdf", newer, {Cut(2 * kEighth)});
  papers.Start();
  net::HttpClient http;
  http.ReadTimeout = kReadLimitMs;
  FetchHooks hooks;
  hooks.nowMs = SteadyMs;
  const FetchTarget first = Target("/Upload/2019/x.pdf", "x.pdf");
  const FetchTarget second = Target("/Upload/2020/x.pdf", "x.pdf");

  EXPECT_EQ(FetchOnce(http, first, hooks).keptAfter, static_cast<std::int64_t>(kEighth));
  EXPECT_EQ(FetchOnce(http, second, hooks).keptAfter, static_cast<std::int64_t>(2 * kEighth));
  EXPECT_TRUE(FetchOnce(http, first, hooks).Done());
  EXPECT_EQ(ReadAll(first.file), older);
  EXPECT_TRUE(FetchOnce(http, second, hooks).Done());
  EXPECT_EQ(ReadAll(second.file), newer);
}

}  // namespace
}  // namespace download
