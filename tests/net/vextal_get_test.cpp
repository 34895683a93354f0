#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/loopback_server.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace {

using testsupport::Action;
using testsupport::LoopbackServer;
using testsupport::OkResponse;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

int ExitCode(int status) {
#ifdef _WIN32
  return status;
#else
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

// One client serves the URLs in order: the output holds only the successful bodies, each failure is one line, and
// the exit status tells whether all succeeded.
TEST(VextalGet, WritesSuccessfulBodiesAndOneLinePerEventAndFailure) {
  LoopbackServer server;
  server.Enqueue({Action::Send(OkResponse("first;"))});
  server.Enqueue({Action::Send("HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nnot")});
  server.Enqueue({Action::Send("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\npart"), Action::Close()});
  server.Enqueue({Action::Send(OkResponse("second"))});
  std::string base = ::testing::TempDir() + "vextal_get_" + std::to_string(server.Port());
  std::string command = std::string(VEXTAL_GET_PATH) + " --events -o " + base + ".out " + server.Url("/a") + " " +
                        server.Url("/b") + " " + server.Url("/c") + " " + server.Url("/d") + " 2>" + base + ".err";
  int status = std::system(command.c_str());
  EXPECT_EQ(ExitCode(status), 1);
  EXPECT_EQ(ReadFile(base + ".out"), "first;second");
  EXPECT_EQ(ReadFile(base + ".err"),
            "OnWorkBegin 6\nOnWork 6\nOnWorkEnd\n"
            "OnWorkBegin 3\nOnWork 3\nOnWorkEnd\n"
            "HttpClientError ProtocolError 404 HTTP/1.1 404 Not Found\n"
            "OnWorkBegin 9\nOnWork 4\nOnWorkEnd\n"
            "HttpClientError ConnectionClosedGracefully 0 Connection Closed Gracefully.\n"
            "OnWorkBegin 6\nOnWork 6\nOnWorkEnd\n");
  EXPECT_EQ(server.ConnectionCount(), 2);
  std::remove((base + ".out").c_str());
  std::remove((base + ".err").c_str());
}

// Each error is one whole line whatever bytes its text holds: socket errors with their code, and a server's status
// line with its control bytes shown escaped rather than acted on or cutting the line.
TEST(VextalGet, ErrorTextsAreShownWholeOnOneLine) {
  struct Case {
    const char* label;
    std::string statusLine;  // empty: nothing listens
    std::string line;
  };
  const Case cases[] = {
      {"refused", "", "HttpClientError ConnectFailed 10061 Socket Error # 10061\\r\\nConnection refused.\n"},
      {"NUL", std::string("HTTP/1.1 500 A\0B", 16), "HttpClientError ProtocolError 500 HTTP/1.1 500 A\\0B\n"},
      {"escape and tab", "HTTP/1.1 404 \x1b[2J\tgone", "HttpClientError ProtocolError 404 HTTP/1.1 404 \\x1b[2J\\x09gone\n"},
      {"delete, GBK kept", "HTTP/1.1 403 \x7f\xbd\xfb", "HttpClientError ProtocolError 403 HTTP/1.1 403 \\x7f\xbd\xfb\n"},
  };
  for (const Case& c : cases) {
    LoopbackServer server;
    const std::string url = server.Url("/");
    if (c.statusLine.empty()) {
      server.Stop();
    } else {
      server.Enqueue({Action::Send(c.statusLine + "\r\nContent-Length: 0\r\n\r\n")});
    }
    const std::string base = ::testing::TempDir() + "vextal_get_error_" + std::to_string(server.Port());
    const int status =
        std::system((std::string(VEXTAL_GET_PATH) + " " + url + " >" + base + ".out 2>" + base + ".err").c_str());
    EXPECT_EQ(ExitCode(status), 1) << c.label;
    EXPECT_EQ(ReadFile(base + ".err"), c.line) << c.label;
    std::remove((base + ".out").c_str());
    std::remove((base + ".err").c_str());
  }
}

}  // namespace
