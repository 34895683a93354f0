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

TEST(VextalGet, SocketErrorsShowTheirCodeAndLineBreaksEscaped) {
  LoopbackServer server;
  std::string url = server.Url("/");
  server.Stop();
  std::string base = ::testing::TempDir() + "vextal_get_refused_" + std::to_string(server.Port());
  int status = std::system((std::string(VEXTAL_GET_PATH) + " " + url + " >" + base + ".out 2>" + base + ".err").c_str());
  EXPECT_EQ(ExitCode(status), 1);
  EXPECT_EQ(ReadFile(base + ".err"), "HttpClientError ConnectFailed 10061 Socket Error # 10061\\r\\nConnection refused.\n");
  std::remove((base + ".out").c_str());
  std::remove((base + ".err").c_str());
}

}  // namespace
