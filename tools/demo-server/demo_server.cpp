#include "demo_server.h"

#include "updater/file_digest.h"
#include "updater/update_description.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string_view>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "charset.h"

namespace demo {
namespace {

constexpr int kPollSliceMs = 200;
constexpr auto kIdleTimeout = std::chrono::seconds(30);  // a keep-alive connection nobody uses is closed
constexpr std::size_t kMaxHeadBytes = 16 * 1024;
constexpr std::size_t kChunkBytes = 2048;
constexpr std::size_t kFileBlockBytes = 16 * 1024;
constexpr int kListenBacklog = 64;
constexpr const char* kSessionCookieName = "ASPSESSIONIDQSCTRBTA";
constexpr std::size_t kSessionIdLength = 24;
constexpr std::string_view kUploadPrefix = "/upload/";
constexpr std::uint64_t kFnvOffsetBasis = 14695981039346656037ull;
constexpr std::uint64_t kFnvPrime = 1099511628211ull;
constexpr std::uint64_t kHugeNumber = std::numeric_limits<std::uint64_t>::max();
constexpr std::string_view kInstallerPagePrefix = "/updates/vextal-setup-";
constexpr std::string_view kInstallerPageSuffix = ".exe";  // the installer the Windows program runs is an .exe
// Far longer than a key file of update-sign keygen; what is longer is not one.
constexpr std::uintmax_t kLargestKeyFileBytes = 4096;
// As update-sign's default: far longer than any demonstration or test run, so the offer never runs out under it.
constexpr auto kOfferBelieved = std::chrono::hours(30 * 24);

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string_view TrimBlanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string HttpDate(std::time_t when) {
  std::tm parts{};
  gmtime_r(&when, &parts);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
  return text;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The client sends raw bytes, but a person with curl sends %XX: both arrive at the same bytes.
std::string PercentDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::string QueryValue(const std::string& query, const std::string& name) {
  std::size_t from = 0;
  while (from <= query.size()) {
    const std::size_t end = std::min(query.find('&', from), query.size());
    const std::string pair = query.substr(from, end - from);
    const std::size_t equals = pair.find('=');
    if (Lower(pair.substr(0, equals)) == name) {
      return equals == std::string::npos ? std::string() : PercentDecode(pair.substr(equals + 1));
    }
    from = end + 1;
  }
  return {};
}

// The pages put the number straight into their SQL; anything but an integer makes the database fail.
bool ParseNumber(const std::string& text, long long& number) {
  if (text.empty() || text.size() > 18) return false;
  std::size_t at = text[0] == '-' ? 1 : 0;
  if (at == text.size()) return false;
  for (std::size_t i = at; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  number = std::stoll(text);
  return true;
}

std::string ContentTypeOf(const std::filesystem::path& file) {
  const std::string extension = Lower(file.extension().string());
  if (extension == ".pdf") return "application/pdf";
  if (extension == ".txt") return "text/plain";
  if (extension == ".doc") return "application/msword";
  return "application/octet-stream";
}

// A strong validator made from the bytes themselves: the same after a restart of the server, different after any edit
// of the file, whatever its date says.
std::optional<std::string> ContentTag(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::uint64_t hash = kFnvOffsetBasis;
  std::uint64_t size = 0;
  char block[kFileBlockBytes];
  while (in.read(block, sizeof block) || in.gcount() > 0) {
    for (std::streamsize i = 0; i < in.gcount(); ++i) hash = (hash ^ static_cast<unsigned char>(block[i])) * kFnvPrime;
    size += static_cast<std::uint64_t>(in.gcount());
  }
  if (in.bad()) return std::nullopt;
  char tag[48];
  std::snprintf(tag, sizeof tag, "\"%016llx-%llx\"", static_cast<unsigned long long>(hash),
                static_cast<unsigned long long>(size));
  return tag;
}

// Digits only. A number past any file size saturates instead of wrapping, so it still compares as huge.
std::optional<std::uint64_t> RangeNumber(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    value = value > (kHugeNumber - digit) / 10 ? kHugeNumber : value * 10 + digit;
  }
  return value;
}

enum class RangeFit { Whole, Part, Unsatisfiable };

struct ByteRange {
  RangeFit fit = RangeFit::Whole;
  std::size_t first = 0;
  std::size_t length = 0;
};

// The one byte range a Range field asks of a file of total bytes (RFC 9110, 14.1.2). A field that is malformed, names
// another unit or asks for several ranges is ignored: the whole file is always a valid answer.
ByteRange RangeOf(std::string_view field, std::size_t total) {
  const ByteRange whole;
  const std::size_t equals = field.find('=');
  if (equals == std::string_view::npos || Lower(std::string(field.substr(0, equals))) != "bytes") return whole;
  std::optional<std::string_view> only;
  for (std::string_view set = field.substr(equals + 1);;) {
    const std::size_t comma = set.find(',');
    const std::string_view element = TrimBlanks(set.substr(0, comma));
    if (!element.empty()) {
      if (only) return whole;
      only = element;
    }
    if (comma == std::string_view::npos) break;
    set.remove_prefix(comma + 1);
  }
  const std::size_t dash = only ? only->find('-') : std::string_view::npos;
  if (dash == std::string_view::npos) return whole;
  const std::string_view firstText = only->substr(0, dash);
  const std::string_view lastText = only->substr(dash + 1);
  const std::optional<std::uint64_t> last = RangeNumber(lastText);
  if (firstText.empty()) {  // the last so many bytes
    if (!last) return whole;
    if (*last == 0 || total == 0) return {RangeFit::Unsatisfiable};
    const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(*last, total));
    return {RangeFit::Part, total - length, length};
  }
  const std::optional<std::uint64_t> first = RangeNumber(firstText);
  if (!first || (!lastText.empty() && (!last || *last < *first))) return whole;
  if (*first >= total) return {RangeFit::Unsatisfiable};
  const std::uint64_t end = last ? std::min<std::uint64_t>(*last, total - 1) : total - 1;
  return {RangeFit::Part, static_cast<std::size_t>(*first), static_cast<std::size_t>(end - *first + 1)};
}

// If-Range (RFC 9110, 13.1.5): the range stands only while the client's copy is still the current one. An entity tag
// must match the current one by strong comparison, so a weak tag never does; a date must equal Last-Modified exactly.
bool IfRangeHolds(const std::optional<std::string>& validator, const std::string& etag,
                  const std::string& lastModified) {
  if (!validator) return true;
  if (validator->starts_with('"') || validator->starts_with("W/")) return *validator == etag;
  return *validator == lastModified;
}

std::string SessionId() {
  static std::atomic<unsigned long long> counter{static_cast<unsigned long long>(std::time(nullptr))};
  unsigned long long state = counter.fetch_add(0x9E3779B97F4A7C15ull) * 6364136223846793005ull + 1;
  std::string id;
  for (std::size_t i = 0; i < kSessionIdLength; ++i) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    id.push_back(static_cast<char>('A' + (state >> 33) % 26));
  }
  return id;
}

std::string StatusText(int status) {
  switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    default: return "Unknown";
  }
}

std::string RecordLine(const Paper& paper) {
  return "<tr><F_id>" + std::to_string(paper.number) + "</F_id><F_SJMC>" + ToGbk(paper.title) + "</F_SJMC><F_KM>" +
         ToGbk(paper.exam) + "</F_KM><F_ZFL1>" + ToGbk(paper.subject) + "</F_ZFL1><F_LB>" + ToGbk(paper.category) +
         "</F_LB><F_MS>" + ToGbk(paper.description) + "</F_MS>\r\n";
}

}  // namespace

DemoServer::DemoServer(ServerOptions options) : m_options(std::move(options)) {
  m_papers = MakeSampleBank(m_options.records);
  for (const Paper& paper : m_papers) m_recordsGbk.push_back(RecordLine(paper));
}

DemoServer::~DemoServer() {
  if (m_listenSocket >= 0) close(m_listenSocket);
}

int DemoServer::Start() {
  const std::size_t written = GenerateFiles(m_papers, m_options.root);
  if (!m_options.quiet && written > 0) {
    std::cerr << "generated " << written << " paper files under " << (m_options.root / "Upload").string() << "\n";
  }
  if (m_options.offer) PublishUpdate(*m_options.offer);
  m_listenSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_listenSocket < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  const int on = 1;
  setsockopt(m_listenSocket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(m_options.port));
  if (bind(m_listenSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("bind 127.0.0.1:" + std::to_string(m_options.port) + ": " + std::strerror(errno));
  }
  if (listen(m_listenSocket, kListenBacklog) != 0) throw std::runtime_error(std::string("listen: ") + std::strerror(errno));
  socklen_t length = sizeof address;
  getsockname(m_listenSocket, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

// Described once, at start: an installer replaced while the server runs no longer matches, and the updater says so.
void DemoServer::PublishUpdate(const UpdateOffer& offer) {
  const std::optional<updater::FileDigest> digest =
      updater::DigestOfFile(offer.installer, updater::kLargestInstallerBytes);
  if (!digest || digest->size == 0) {
    throw std::runtime_error("cannot offer " + offer.installer.string() + ": not a readable file of 1 to " +
                             std::to_string(updater::kLargestInstallerBytes) + " bytes");
  }
  std::error_code error;
  std::string keyText;
  if (std::filesystem::is_regular_file(offer.secretKeyFile, error) &&
      std::filesystem::file_size(offer.secretKeyFile, error) <= kLargestKeyFileBytes && !error) {
    std::ifstream in(offer.secretKeyFile, std::ios::binary);
    keyText.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::optional<std::string> secretKey = updater::SecretKeyOfText(keyText);
  if (!secretKey) {
    throw std::runtime_error("cannot sign the update: " + offer.secretKeyFile.string() +
                             " is not a secret key of update-sign keygen");
  }
  PublishedUpdate update;
  update.installerPage =
      std::string(kInstallerPagePrefix) + offer.version + std::string(kInstallerPageSuffix);
  const auto expires = std::chrono::system_clock::now() + kOfferBelieved;
  update.description = updater::DescriptionText(
      {offer.version, update.installerPage, digest->size, digest->sha256,
       std::chrono::duration_cast<std::chrono::seconds>(expires.time_since_epoch()).count()});
  update.signature = updater::SignDescription(update.description, *secretKey).value_or("");
  std::fill(secretKey->begin(), secretKey->end(), '\0');
  if (update.signature.empty()) throw std::runtime_error("cannot sign the update: libsodium does not start");
  if (!m_options.quiet) {
    std::cerr << "offering version " << offer.version << ": " << update.installerPage << " is "
              << offer.installer.string() << "\n";
  }
  m_update = std::move(update);
}

void DemoServer::Serve(const std::atomic<bool>& stopRequested) {
  while (!stopRequested) {
    pollfd listening{m_listenSocket, POLLIN, 0};
    const int ready = poll(&listening, 1, kPollSliceMs);
    ReapFinished();
    if (ready <= 0) continue;
    const int client = accept4(m_listenSocket, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    auto connection = std::make_unique<Connection>();
    connection->socket = client;
    Connection* raw = connection.get();
    connection->thread = std::thread([this, raw] {
      HandleConnection(raw->socket);
      raw->done = true;
    });
    m_connections.push_back(std::move(connection));
  }
  m_stopping = true;
  // Wakes every thread blocked on its socket; each then closes it itself.
  for (auto& connection : m_connections) {
    if (!connection->done) shutdown(connection->socket, SHUT_RDWR);
  }
  for (auto& connection : m_connections) connection->thread.join();
  m_connections.clear();
  close(m_listenSocket);
  m_listenSocket = -1;
}

void DemoServer::ReapFinished() {
  for (auto it = m_connections.begin(); it != m_connections.end();) {
    if ((*it)->done) {
      (*it)->thread.join();
      it = m_connections.erase(it);
    } else {
      ++it;
    }
  }
}

bool DemoServer::ReadHead(int socket, std::string& pending, std::string& head) {
  auto lastActivity = std::chrono::steady_clock::now();
  while (true) {
    const std::size_t end = pending.find("\r\n\r\n");
    if (end != std::string::npos) {
      head = pending.substr(0, end);
      pending.erase(0, end + 4);
      return true;
    }
    if (pending.size() > kMaxHeadBytes || m_stopping) return false;
    pollfd readable{socket, POLLIN, 0};
    const int ready = poll(&readable, 1, kPollSliceMs);
    if (ready == 0) {
      if (std::chrono::steady_clock::now() - lastActivity > kIdleTimeout) return false;
      continue;
    }
    char buffer[4096];
    const ssize_t received = recv(socket, buffer, sizeof buffer, 0);
    if (received <= 0) return false;
    pending.append(buffer, static_cast<std::size_t>(received));
    lastActivity = std::chrono::steady_clock::now();
  }
}

void DemoServer::HandleConnection(int socket) {
  std::string pending;
  std::string head;
  while (ReadHead(socket, pending, head)) {
    const std::size_t lineEnd = std::min(head.find("\r\n"), head.size());
    const std::string requestLine = head.substr(0, lineEnd);
    // Method, target and version, one blank apart, as standard servers (nginx, Python's http.server) insist: a raw
    // blank inside the target splits the line into more parts and is refused, so the demo cannot hide a client that
    // forgets to escape it.
    const std::size_t firstBlank = requestLine.find(' ');
    const std::size_t lastBlank = requestLine.rfind(' ');
    if (firstBlank == std::string::npos || lastBlank == firstBlank ||
        requestLine.find(' ', firstBlank + 1) != lastBlank) {
      WriteResponse(socket, ErrorPage(400, "Bad Request"), false, false);
      break;
    }
    Request request;
    request.method = requestLine.substr(0, firstBlank);
    request.target = requestLine.substr(firstBlank + 1, lastBlank - firstBlank - 1);
    const std::string version = requestLine.substr(lastBlank + 1);

    std::string connectionHeader;
    std::size_t contentLength = 0;
    std::size_t from = lineEnd + 2;
    while (from < head.size()) {
      const std::size_t end = std::min(head.find("\r\n", from), head.size());
      const std::string line = head.substr(from, end - from);
      from = end + 2;
      const std::size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      const std::string name = Lower(line.substr(0, colon));
      std::string value = line.substr(colon + 1);
      value = std::string(TrimBlanks(value));
      if (name == "cookie" && value.find("ASPSESSIONID") != std::string::npos) request.hasSessionCookie = true;
      if (name == "range") request.range = value;
      if (name == "if-range") request.ifRange = value;
      if (name == "connection") connectionHeader = Lower(value);
      if (name == "content-length") contentLength = static_cast<std::size_t>(std::strtoull(value.c_str(), nullptr, 10));
    }
    // A body nobody asked for is read and dropped, so the next request starts where it should.
    while (pending.size() < contentLength) {
      char buffer[4096];
      const ssize_t received = recv(socket, buffer, sizeof buffer, 0);
      if (received <= 0) break;
      pending.append(buffer, static_cast<std::size_t>(received));
    }
    pending.erase(0, std::min(contentLength, pending.size()));

    const bool http10 = version == "HTTP/1.0";
    bool keepAlive = http10 ? connectionHeader == "keep-alive" : connectionHeader != "close";
    Response response = Answer(request);
    if (http10) response.chunked = false;  // HTTP/1.0 knows no chunks
    // A range past the end is an ordinary answer of known length; the connection goes on as after a 404.
    if (response.status >= 400 && response.status != 404 && response.status != 416) keepAlive = false;
    if (!m_options.quiet) {
      Log(request.method + " " + Printable(request.target) + " -> " + std::to_string(response.status) + " " +
          std::to_string(response.file.empty() ? response.body.size() : response.fileLength) + " bytes" +
          (response.breakAfter ? ", broken after " + std::to_string(*response.breakAfter) : std::string()));
    }
    if (!WriteResponse(socket, response, request.method == "HEAD", keepAlive) || !keepAlive) break;
  }
  close(socket);
}

Response DemoServer::Answer(const Request& request) {
  if (request.method != "GET" && request.method != "HEAD") return ErrorPage(405, "Method Not Allowed");
  const std::size_t question = request.target.find('?');
  const std::string path = PercentDecode(request.target.substr(0, question));
  const std::string query = question == std::string::npos ? std::string() : request.target.substr(question + 1);
  const std::string page = Lower(path);  // IIS matches page names without regard to case

  Response response;
  if (page == "/admin/zpr_upcount.asp") {
    response = UpdateRecords(query);
  } else if (page == "/admin/zpr_upcount1.asp") {
    response = NewPaperCount(query);
  } else if (page == "/admin/zpr_bhtodown.asp") {
    response = FileName(query);
  } else if (page == "/vextal.asp") {
    const std::string& version = m_options.offer ? m_options.offer->version : m_options.version;
    response = AspPage(Convert(version, "GBK", "UTF-8").value_or(version));
  } else if (page.starts_with(kUploadPrefix)) {
    return UploadedFile(request, path.substr(kUploadPrefix.size()));
  } else if (m_update && page == updater::kDescriptionPage) {
    return PlainText(m_update->description);
  } else if (m_update && page == updater::kSignaturePage) {
    return PlainText(m_update->signature);
  } else if (m_update && page == Lower(m_update->installerPage)) {
    return FileAnswer(request, m_options.offer->installer).value_or(ErrorPage(404, "Not Found"));
  } else {
    return ErrorPage(404, "Not Found");
  }
  if (response.status == 200 && !request.hasSessionCookie) {
    response.headers.emplace_back("Set-Cookie", std::string(kSessionCookieName) + "=" + SessionId() + "; path=/");
  }
  return response;
}

Response DemoServer::AspPage(const std::string& gbkBody) const {
  Response response;
  response.chunked = true;
  response.body = gbkBody;
  response.headers = {{"Content-Type", "text/html; Charset=gb2312"}, {"Cache-control", "private"}};
  return response;
}

// Static files, as IIS serves them: a length, no session.
Response DemoServer::PlainText(const std::string& body) const {
  Response response;
  response.body = body;
  response.headers = {{"Content-Type", "text/plain"}};
  return response;
}

Response DemoServer::ErrorPage(int status, const std::string& reason) const {
  Response response;
  response.status = status;
  response.body = "<html><head><title>" + std::to_string(status) + " " + reason + "</title></head><body><h1>" +
                  reason + "</h1></body></html>\r\n";
  response.headers = {{"Content-Type", "text/html"}};
  return response;
}

namespace {

// What classic ASP shows when the page's SQL breaks on a bad number.
Response DatabaseError(const std::string& name, const std::string& value) {
  Response response;
  response.status = 500;
  response.body = "<font face=\"Arial\" size=2>\r\n<p>Microsoft JET Database Engine</font> <font face=\"Arial\" "
                  "size=2>error '80040e14'</font>\r\n<p>\r\n<font face=\"Arial\" size=2>Syntax error in query "
                  "expression '" + name + " > " + Printable(value) + "'.</font>\r\n";
  response.headers = {{"Content-Type", "text/html"}, {"Cache-control", "private"}};
  return response;
}

}  // namespace

Response DemoServer::UpdateRecords(const std::string& query) const {
  const std::string value = QueryValue(query, "id");
  long long mark = 0;
  if (!ParseNumber(value, mark)) return DatabaseError("F_id", value);
  std::string body;
  for (std::size_t i = 0; i < m_papers.size(); ++i) {
    if (m_papers[i].number > mark) body += m_recordsGbk[i];
  }
  return AspPage(body);
}

Response DemoServer::NewPaperCount(const std::string& query) const {
  const std::string value = QueryValue(query, "id");
  long long mark = 0;
  if (!ParseNumber(value, mark)) return DatabaseError("F_id", value);
  const auto count = std::count_if(m_papers.begin(), m_papers.end(), [mark](const Paper& p) { return p.number > mark; });
  return AspPage(std::to_string(count));
}

Response DemoServer::FileName(const std::string& query) const {
  const std::string value = QueryValue(query, "bh");
  long long number = 0;
  if (!ParseNumber(value, number)) return DatabaseError("F_id", value);
  for (const Paper& paper : m_papers) {
    if (paper.number == number) return AspPage(ToGbk(paper.path));
  }
  return AspPage("");
}

Response DemoServer::UploadedFile(const Request& request, const std::string& relativeGbk) {
  const std::filesystem::path upload = m_options.root / "Upload";
  // Names on disk are UTF-8; the client asks in GBK, a person with curl perhaps in UTF-8.
  std::vector<std::string> candidates;
  if (std::optional<std::string> utf8 = GbkToUtf8(relativeGbk)) candidates.push_back(*utf8);
  candidates.push_back(relativeGbk);
  for (std::string relative : candidates) {
    std::replace(relative.begin(), relative.end(), '\\', '/');
    std::filesystem::path file = upload;
    bool escapes = false;
    std::size_t from = 0;
    while (from <= relative.size()) {
      const std::size_t end = std::min(relative.find('/', from), relative.size());
      const std::string segment = relative.substr(from, end - from);
      from = end + 1;
      if (segment.empty() || segment == ".") continue;
      if (segment == "..") escapes = true;
      file /= segment;
    }
    std::error_code error;
    if (escapes || !std::filesystem::is_regular_file(file, error)) continue;
    if (std::optional<Response> answer = FileAnswer(request, file)) return *answer;
  }
  return ErrorPage(404, "Not Found");
}

std::optional<Response> DemoServer::FileAnswer(const Request& request, const std::filesystem::path& file) {
  std::error_code error;
  const auto total = static_cast<std::size_t>(std::filesystem::file_size(file, error));
  if (error) return std::nullopt;
  const auto modified = std::filesystem::last_write_time(file, error);
  const std::optional<std::string> etag = ContentTag(file);
  if (error || !etag) return std::nullopt;
  const std::string lastModified =
      HttpDate(std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(modified)));
  // Ranges are defined for GET alone; HEAD describes the whole file.
  const ByteRange range = request.method == "GET" && request.range &&
                                  IfRangeHolds(request.ifRange, *etag, lastModified)
                              ? RangeOf(*request.range, total)
                              : ByteRange{};
  if (range.fit == RangeFit::Unsatisfiable) {
    Response refusal = ErrorPage(416, "Range Not Satisfiable");
    refusal.headers.emplace_back("Content-Range", "bytes */" + std::to_string(total));
    return refusal;
  }
  Response response;
  response.file = file;
  response.headers = {{"Content-Type", ContentTypeOf(file)},
                      {"Last-Modified", lastModified},
                      {"Accept-Ranges", "bytes"},
                      {"ETag", *etag}};
  if (range.fit == RangeFit::Part) {
    response.status = 206;
    response.fileOffset = range.first;
    response.fileLength = range.length;
    response.headers.emplace_back("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                                       std::to_string(range.first + range.length - 1) + "/" +
                                                       std::to_string(total));
    return response;
  }
  response.fileLength = total;
  if (request.method == "GET" && m_options.breakShare > 0) {
    std::lock_guard<std::mutex> lock(m_brokenMutex);
    if (m_brokenFiles.insert(file).second) {
      response.breakAfter = static_cast<std::size_t>(static_cast<double>(total) * m_options.breakShare);
    }
  }
  return response;
}

bool DemoServer::SendAll(int socket, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = send(socket, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool DemoServer::WriteResponse(int socket, const Response& response, bool headOnly, bool keepAlive) {
  std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + StatusText(response.status) + "\r\n";
  head += "Server: Microsoft-IIS/6.0\r\nX-Powered-By: ASP.NET\r\nDate: " + HttpDate(std::time(nullptr)) + "\r\n";
  for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
  if (!response.file.empty()) {
    head += "Content-Length: " + std::to_string(response.fileLength) + "\r\n";
  } else if (response.chunked) {
    head += "Transfer-Encoding: chunked\r\n";
  } else {
    head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
  }
  head += keepAlive ? "" : "Connection: close\r\n";
  head += "\r\n";
  if (!SendAll(socket, head.data(), head.size())) return false;
  if (headOnly) return true;

  if (!response.file.empty()) {
    std::ifstream in(response.file, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(response.fileOffset));
    // A broken download stops short of the length it announced and the connection drops, as a failing line would.
    const std::size_t toSend = std::min(response.fileLength, response.breakAfter.value_or(response.fileLength));
    const auto started = std::chrono::steady_clock::now();
    std::size_t sent = 0;
    char block[kFileBlockBytes];
    while (sent < toSend && in) {
      in.read(block, static_cast<std::streamsize>(std::min(sizeof block, toSend - sent)));
      const std::size_t got = static_cast<std::size_t>(in.gcount());
      if (got == 0 || m_stopping || !SendAll(socket, block, got)) return false;
      sent += got;
      if (m_options.rateKiBPerSecond > 0) {
        // Held to the rate so a progress bar has time to move on loopback.
        const auto due = started + std::chrono::microseconds(sent * 1000000 / (m_options.rateKiBPerSecond * 1024));
        std::this_thread::sleep_until(due);
      }
    }
    return sent == response.fileLength;
  }
  if (!response.chunked) return SendAll(socket, response.body.data(), response.body.size());

  std::string out;
  for (std::size_t from = 0; from < response.body.size(); from += kChunkBytes) {
    const std::size_t size = std::min(kChunkBytes, response.body.size() - from);
    char sizeLine[32];
    std::snprintf(sizeLine, sizeof sizeLine, "%zx\r\n", size);
    out += sizeLine;
    out.append(response.body, from, size);
    out += "\r\n";
  }
  out += "0\r\n\r\n";
  return SendAll(socket, out.data(), out.size());
}

void DemoServer::Log(const std::string& line) {
  std::lock_guard<std::mutex> lock(m_logMutex);
  std::cerr << line << std::endl;
}

}  // namespace demo
