// Starts the demo server on a free port and talks to it over plain sockets, the way the client does.

#include "net/http_text.h"
#include "updater/file_digest.h"
#include "updater/update_description.h"
#include "vextal_config.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char* g_serverPath = nullptr;
constexpr auto kStopGiveUp = std::chrono::seconds(30);
constexpr auto kPollEvery = std::chrono::milliseconds(10);
constexpr int kReadTimeoutSeconds = 20;

struct Reply {
  std::string head;
  std::string body;
};

class DemoServerProcess {
 public:
  explicit DemoServerProcess(const std::vector<std::string>& moreOptions = {}) {
    static int started = 0;
    m_root = std::filesystem::temp_directory_path() /
             ("vextal-demo-smoke-" + std::to_string(getpid()) + "-" + std::to_string(++started));
    std::vector<std::string> arguments = {g_serverPath, "--port", "0",    "--root", m_root.string(),
                                          "--records",  "40",     "--rate", "0",    "--quiet"};
    arguments.insert(arguments.end(), moreOptions.begin(), moreOptions.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return;
    m_pid = fork();
    if (m_pid == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      execv(g_serverPath, argv.data());
      _exit(127);
    }
    close(out[1]);
    FILE* stream = fdopen(out[0], "r");
    char line[128] = {};
    if (stream && std::fgets(line, sizeof line, stream)) std::sscanf(line, "listening on 127.0.0.1:%d", &m_port);
    if (stream) std::fclose(stream);
  }
  ~DemoServerProcess() {
    if (m_pid > 0 && !m_stopped) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(m_root, ignored);
  }
  int Port() const { return m_port; }
  // SIGTERM, then the exit status, or -1 when it did not end within kStopGiveUp (a hang, not a slow machine).
  int Stop() {
    kill(m_pid, SIGTERM);
    const auto giveUp = std::chrono::steady_clock::now() + kStopGiveUp;
    while (std::chrono::steady_clock::now() < giveUp) {
      int status = 0;
      if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_stopped = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(kPollEvery);
    }
    return -1;
  }

 private:
  std::filesystem::path m_root;
  pid_t m_pid = -1;
  int m_port = 0;
  bool m_stopped = false;
};

int Connect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  // A server that stops short without closing fails the test instead of hanging it.
  const timeval patience{kReadTimeoutSeconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool ReadMore(int fd, std::string& buffer) {
  char block[8192];
  const ssize_t got = recv(fd, block, sizeof block, 0);
  if (got <= 0) return false;
  buffer.append(block, static_cast<std::size_t>(got));
  return true;
}

// One GET on an open connection: the raw target goes onto the request line as is, GBK bytes included. A body cut
// short by the server comes back as far as it got.
Reply Get(int fd, const std::string& target, const std::string& moreFields = "") {
  const std::string request =
      "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/html, */*\r\n" + moreFields + "\r\n";
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string buffer;
  Reply reply;
  while (buffer.find("\r\n\r\n") == std::string::npos) {
    if (!ReadMore(fd, buffer)) return reply;
  }
  const std::size_t headEnd = buffer.find("\r\n\r\n");
  reply.head = buffer.substr(0, headEnd);
  std::string rest = buffer.substr(headEnd + 4);
  const std::size_t length = reply.head.find("Content-Length: ");
  if (length != std::string::npos) {
    const std::size_t size = std::stoul(reply.head.substr(length + 16));
    while (rest.size() < size && ReadMore(fd, rest)) {
    }
    reply.body = rest.substr(0, size);
    return reply;
  }
  while (true) {
    std::size_t lineEnd;
    while ((lineEnd = rest.find("\r\n")) == std::string::npos) {
      if (!ReadMore(fd, rest)) return reply;
    }
    const std::size_t size = std::stoul(rest.substr(0, lineEnd), nullptr, 16);
    while (rest.size() < lineEnd + 2 + size + 2) {
      if (!ReadMore(fd, rest)) return reply;
    }
    reply.body += rest.substr(lineEnd + 2, size);
    rest.erase(0, lineEnd + 2 + size + 2);
    if (size == 0) return reply;
  }
}

std::string FieldValue(const std::string& head, const std::string& name) {
  const std::size_t at = head.find("\r\n" + name + ": ");
  if (at == std::string::npos) return {};
  const std::size_t from = at + name.size() + 4;
  return head.substr(from, head.find("\r\n", from) - from);
}

TEST(DemoServer, AnswersEveryPageOnOneKeptAliveConnection) {
  DemoServerProcess server;
  ASSERT_GT(server.Port(), 0) << "no listening line from " << g_serverPath;
  const int fd = Connect(server.Port());
  ASSERT_GE(fd, 0);

  const Reply count = Get(fd, "/admin/ZPR_UpCount1.asp?id=1");
  EXPECT_NE(count.head.find("Transfer-Encoding: chunked"), std::string::npos);
  EXPECT_NE(count.head.find("Set-Cookie: ASPSESSIONID"), std::string::npos);
  EXPECT_EQ(count.body, "40");
  EXPECT_EQ(Get(fd, "/admin/ZPR_UpCount1.asp?id=1040").body, "0");

  const Reply records = Get(fd, "/admin/ZPR_UpCount.asp?id=1038");
  EXPECT_EQ(records.body.rfind("<tr><F_id>1039</F_id><F_SJMC>", 0), 0u) << records.body;
  EXPECT_NE(records.body.find("\r\n<tr><F_id>1040</F_id>"), std::string::npos);
  EXPECT_NE(records.body.find("<F_MS>"), std::string::npos);
  EXPECT_EQ(Get(fd, "/admin/ZPR_UpCount.asp?id=1040").body, "");

  // 1002 carries a Chinese file name with a blank; 1009 has no file.
  const std::string path = Get(fd, "/admin/ZPR_BhToDown.asp?bh=1002").body;
  ASSERT_NE(path.find(' '), std::string::npos) << path;
  EXPECT_EQ(Get(fd, "/admin/ZPR_BhToDown.asp?bh=1009").body, "");
  std::string escaped;
  for (const char c : path) escaped += c == ' ' ? std::string("%20") : std::string(1, c);
  const Reply file = Get(fd, "/Upload/" + escaped);
  EXPECT_NE(file.head.find("HTTP/1.1 200"), std::string::npos) << file.head;
  EXPECT_NE(file.head.find("Content-Length: "), std::string::npos);
  EXPECT_FALSE(file.body.empty());

  // The build's own version: the client built beside this server is current.
  EXPECT_EQ(Get(fd, "/vextal.asp").body, vextal::kVersionText);
  // No update offered: nothing of one is served.
  for (const char* page : {updater::kDescriptionPage, updater::kSignaturePage, "/updates/vextal-setup-9.9.exe"}) {
    EXPECT_NE(Get(fd, page).head.find(" 404 "), std::string::npos) << page;
  }
  EXPECT_NE(Get(fd, "/Upload/../../etc/passwd").head.find(" 404 "), std::string::npos);
  // A raw blank splits the request line: refused as standard servers refuse it, and the connection ends.
  EXPECT_NE(Get(fd, "/Upload/" + path).head.find(" 400 "), std::string::npos);
  close(fd);

  EXPECT_EQ(server.Stop(), 0);
}

// The retry of a download the client kept the first bytes of, and the ways it can go.
TEST(DemoServer, AnswersOneByteRangeWhileTheValidatorHolds) {
  DemoServerProcess server;
  ASSERT_GT(server.Port(), 0) << "no listening line from " << g_serverPath;
  const int fd = Connect(server.Port());
  ASSERT_GE(fd, 0);
  const std::string target = "/Upload/" + Get(fd, "/admin/ZPR_BhToDown.asp?bh=1001").body;
  const Reply whole = Get(fd, target);
  const std::string etag = FieldValue(whole.head, "ETag");
  const std::string lastModified = FieldValue(whole.head, "Last-Modified");
  ASSERT_EQ(etag.substr(0, 1), "\"") << "a strong tag: " << whole.head;
  EXPECT_EQ(FieldValue(whole.head, "Accept-Ranges"), "bytes");
  ASSERT_FALSE(lastModified.empty());
  const std::size_t total = whole.body.size();
  ASSERT_GT(total, 100u);
  const std::string size = std::to_string(total);
  const std::string from100 = "bytes 100-" + std::to_string(total - 1) + "/" + size;
  const std::string tail = whole.body.substr(100);

  struct Row {
    std::string fields;
    std::string status;
    std::string contentRange;
    std::optional<std::string> body;
  };
  const Row rows[] = {
      {"Range: bytes=100-", "206", from100, tail},
      {"Range: bytes=10-19", "206", "bytes 10-19/" + size, whole.body.substr(10, 10)},
      {"Range: bytes=-5", "206", "bytes " + std::to_string(total - 5) + "-" + std::to_string(total - 1) + "/" + size,
       whole.body.substr(total - 5)},
      {"Range: bytes=100-\r\nIf-Range: " + etag, "206", from100, tail},
      {"Range: bytes=100-\r\nIf-Range: \"0-0\"", "200", "", whole.body},
      {"Range: bytes=100-\r\nIf-Range: W/" + etag, "200", "", whole.body},
      {"Range: bytes=100-\r\nIf-Range: " + lastModified, "206", from100, tail},
      {"Range: bytes=" + size + "-", "416", "bytes */" + size, std::nullopt},
      {"Range: bytes=-0", "416", "bytes */" + size, std::nullopt},
      {"Range: bytes=19-10", "200", "", whole.body},
      {"Range: pages=1-", "200", "", whole.body},
      {"Range: bytes=0-1,5-6", "200", "", whole.body},
  };
  for (const Row& row : rows) {
    const Reply reply = Get(fd, target, row.fields + "\r\n");
    EXPECT_EQ(reply.head.substr(9, 3), row.status) << row.fields;
    EXPECT_EQ(FieldValue(reply.head, "Content-Range"), row.contentRange) << row.fields;
    if (row.body) {
      EXPECT_EQ(reply.body, *row.body) << row.fields;
    }
  }
  close(fd);
}

TEST(DemoServer, BreakCutsOnlyTheFirstWholeDownloadOfAPaper) {
  DemoServerProcess server({"--break", "0.5"});
  ASSERT_GT(server.Port(), 0) << "no listening line from " << g_serverPath;
  int fd = Connect(server.Port());
  const std::string target = "/Upload/" + Get(fd, "/admin/ZPR_BhToDown.asp?bh=1001").body;
  const Reply cut = Get(fd, target);
  const std::size_t total = std::stoul(FieldValue(cut.head, "Content-Length"));
  EXPECT_EQ(cut.body.size(), total / 2);
  close(fd);

  fd = Connect(server.Port());
  const Reply rest = Get(fd, target, "Range: bytes=" + std::to_string(cut.body.size()) + "-\r\nIf-Range: " +
                                         FieldValue(cut.head, "ETag") + "\r\n");
  EXPECT_EQ(rest.head.substr(9, 3), "206");
  const Reply again = Get(fd, target);
  EXPECT_EQ(again.body.size(), total);
  EXPECT_EQ(cut.body + rest.body, again.body);
  close(fd);
}

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

// The updater's road through an offered update: the version page, the signed description it believes with the demo
// build's key, and the installer it names, cut off once and resumed.
TEST(DemoServer, OffersASignedNewerVersionWhoseInstallerResumes) {
  const std::filesystem::path installer =
      std::filesystem::temp_directory_path() / ("vextal-demo-smoke-setup-" + std::to_string(getpid()) + ".exe");
  std::string bytes;
  for (int i = 0; i < 50000; ++i) bytes += static_cast<char>(i * 7 % 251);
  std::ofstream(installer, std::ios::binary) << bytes;
  const std::string newer = std::string(vextal::kVersionText) + ".1";
  const std::string installerPage = "/updates/vextal-setup-" + newer + ".exe";
  DemoServerProcess server({"--offer-update", installer.string(), "--new-version", newer, "--break", "0.5"});
  ASSERT_GT(server.Port(), 0) << "no listening line from " << g_serverPath;
  int fd = Connect(server.Port());

  EXPECT_EQ(Get(fd, "/vextal.asp").body, newer);
  const Reply description = Get(fd, updater::kDescriptionPage);
  const Reply signature = Get(fd, updater::kSignaturePage);
  EXPECT_NE(description.head.find("Content-Length: "), std::string::npos) << "a static file, not an ASP page";
  const std::string origin = "http://127.0.0.1:" + std::to_string(server.Port());
  const auto verdict = updater::VerifyUpdate(
      {.description = description.body,
       .signature = signature.body,
       .publicKeyHex = net::TrimBlanks(ReadFile(std::string(VEXTAL_DEMO_KEY_DIR) + "/update-public.hex")),
       .runningVersion = vextal::kVersionText,
       .origin = origin});
  const auto* update = std::get_if<updater::VerifiedUpdate>(&verdict);
  ASSERT_NE(update, nullptr) << updater::RefusalText(std::get<updater::Refusal>(verdict)) << "\n"
                             << description.body;
  EXPECT_EQ(update->installerUrl, origin + installerPage);
  EXPECT_EQ(update->description.version, newer);

  const Reply cut = Get(fd, installerPage);
  EXPECT_EQ(cut.body.size(), bytes.size() / 2);
  close(fd);
  fd = Connect(server.Port());
  const Reply rest = Get(fd, installerPage, "Range: bytes=" + std::to_string(cut.body.size()) + "-\r\nIf-Range: " +
                                                FieldValue(cut.head, "ETag") + "\r\n");
  EXPECT_EQ(rest.head.substr(9, 3), "206");
  EXPECT_EQ(cut.body + rest.body, bytes);
  const std::optional<updater::FileDigest> digest = updater::DigestOfFile(installer, bytes.size());
  ASSERT_TRUE(digest.has_value());
  EXPECT_EQ(update->description.size, digest->size);
  EXPECT_EQ(update->description.sha256, digest->sha256);
  close(fd);
  std::filesystem::remove(installer);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: demo_server_smoke_test PATH-TO-vextal-demo-server\n");
    return 2;
  }
  g_serverPath = argv[1];
  return RUN_ALL_TESTS();
}
