#include "platform/store/install/archive_download.hpp"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/platform_error.hpp"
#include "platform/store/install/download_pace.hpp"
#include "platform/store/install/sha256.hpp"
#include "platform/store/state/store_files.hpp"

namespace tolva::store {
namespace {

namespace fs = std::filesystem;

constexpr long connectTimeoutSeconds = 30;

struct Transfer {
  explicit Transfer(DownloadPace pace) : pace(std::move(pace)) {}
  DownloadPace pace;
  std::optional<std::string> tooSlow;  // the limit the download broke
  int fd = -1;
  std::int64_t maximumBytes = 0;
  const std::function<void(std::int64_t)>* onBytes = nullptr;
  Sha256 digest;
  std::int64_t received = 0;
  bool tooLarge = false;
  int writeError = 0;
};

std::size_t receive(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  std::size_t length = size * count;
  if (static_cast<std::int64_t>(length) > transfer.maximumBytes - transfer.received) {
    transfer.tooLarge = true;
    return 0;  // makes curl stop with a write error
  }
  if (!writeFully(transfer.fd, data, length)) {
    transfer.writeError = errno;
    return 0;
  }
  transfer.digest.update(data, length);
  transfer.received += static_cast<std::int64_t>(length);
  (*transfer.onBytes)(transfer.received);
  return length;
}

// libcurl's progress callback: a non-zero return ends the transfer.
int checkPace(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto& transfer = *static_cast<Transfer*>(user);
  transfer.tooSlow = transfer.pace.check(transfer.received);
  return transfer.tooSlow ? 1 : 0;
}

// The local path of a file URL; nothing for other schemes.
std::optional<std::string> localPath(const std::string& url) {
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return std::nullopt;
  char* scheme = nullptr;
  char* path = nullptr;
  std::optional<std::string> result;
  if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK && std::string(scheme) == "file" &&
      curl_url_get(parsed.get(), CURLUPART_PATH, &path, CURLU_URLDECODE) == CURLUE_OK) {
    result = path;
  }
  curl_free(scheme);
  curl_free(path);
  return result;
}

// A FIFO would block the read, a device never end it. A missing file is
// left to curl, whose description names it.
void requireRegularSource(const std::string& url) {
  auto path = localPath(url);
  struct stat info {};
  if (!path || stat(path->c_str(), &info) != 0 || S_ISREG(info.st_mode)) return;
  throw PlatformError("download of " + url + " failed: " + *path + " is not a regular file");
}

void initialiseCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

using CurlHandle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;

void configure(CURL* curl, const std::string& url, Transfer& transfer, char* errorText) {
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, receive);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // no SIGALRM in a threaded process
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https,file");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");  // a server never redirects to local files
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, connectTimeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, checkPace);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "tolva-speech");
}

std::string describeFailure(CURLcode code, const char* errorText, const Transfer& transfer, const std::string& url,
                            const fs::path& destination) {
  if (transfer.tooLarge) {
    return "download of " + url + " failed: it is larger than the catalog's " + std::to_string(transfer.maximumBytes) +
           " bytes";
  }
  if (transfer.tooSlow) return "download of " + url + " failed: " + *transfer.tooSlow;
  if (transfer.writeError != 0) {
    return "cannot write the downloaded archive to " + destination.string() + ": " + std::strerror(transfer.writeError);
  }
  std::string text = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return "download of " + url + " failed: " + text;
}

}  // namespace

DownloadedArchive downloadArchive(const std::string& url, const fs::path& destination, std::int64_t maximumBytes,
                                  const std::function<void(std::int64_t)>& onBytes) {
  return downloadArchive(url, destination, maximumBytes, onBytes, DownloadLimits{});
}

DownloadedArchive downloadArchive(const std::string& url, const fs::path& destination, std::int64_t maximumBytes,
                                  const std::function<void(std::int64_t)>& onBytes, const DownloadLimits& limits) {
  initialiseCurl();
  requireRegularSource(url);
  Transfer transfer(DownloadPace(limits, maximumBytes));
  transfer.maximumBytes = maximumBytes;
  transfer.onBytes = &onBytes;
  transfer.fd = open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (transfer.fd < 0) {
    throw PlatformError("cannot create " + destination.string() + ": " + std::strerror(errno));
  }
  CurlHandle curl(curl_easy_init(), &curl_easy_cleanup);
  if (!curl) {
    close(transfer.fd);
    throw PlatformError("download of " + url + " failed: libcurl could not start a transfer");
  }
  char errorText[CURL_ERROR_SIZE] = {};
  configure(curl.get(), url, transfer, errorText);
  CURLcode code = curl_easy_perform(curl.get());
  close(transfer.fd);
  if (code != CURLE_OK) throw PlatformError(describeFailure(code, errorText, transfer, url, destination));
  return DownloadedArchive{transfer.received, transfer.digest.finishHex()};
}

}  // namespace tolva::store
