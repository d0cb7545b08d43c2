// The limit for checking a served update set: every archive under a folder fetched from a web
// server with libcurl's multi interface (one thread, CONNECTIONS kept-alive HTTP/1.1
// connections in one poll set, the least a libcurl client does a request), the bodies counted
// and thrown away, nothing unpacked or checked.
//
// Usage: vornel_fetch_all BASE_URL UPLOAD_DIR [CONNECTIONS]   (default 8)
// BASE_URL serves UPLOAD_DIR's contents ("http://127.0.0.1:8080/set/"). Prints the archives,
// the bytes and the seconds; exits 1 when any request failed or was not answered with 200.

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

std::size_t Count(char*, std::size_t size, std::size_t count, void* total) {
  *static_cast<std::uint64_t*>(total) += size * count;
  return size * count;
}

// The path below the upload folder with every segment escaped for a URL.
std::string UrlPath(CURL* curl, const std::filesystem::path& relative) {
  std::string path;
  for (const auto& segment : relative) {
    const std::string text = segment.string();
    std::unique_ptr<char, decltype(&curl_free)> escaped(
        curl_easy_escape(curl, text.c_str(), static_cast<int>(text.size())), curl_free);
    path += (path.empty() ? "" : "/") + std::string(escaped.get());
  }
  return path;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: vornel_fetch_all BASE_URL UPLOAD_DIR [CONNECTIONS]\n";
    return 2;
  }
  const std::string base = argv[1];
  const std::filesystem::path upload = argv[2];
  const long connections = argc > 3 ? std::stol(argv[3]) : 8;
  curl_global_init(CURL_GLOBAL_DEFAULT);
  CURL* escaper = curl_easy_init();
  std::vector<std::string> urls;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(upload))
    if (entry.is_regular_file() && entry.path().extension() == ".zip")
      urls.push_back(base + UrlPath(escaper, entry.path().lexically_relative(upload)));
  curl_easy_cleanup(escaper);

  const auto start = std::chrono::steady_clock::now();
  CURLM* multi = curl_multi_init();
  curl_multi_setopt(multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, connections);
  std::uint64_t bytes = 0;
  std::size_t next = 0;
  int failures = 0;
  auto start_next = [&](CURL* easy) {
    curl_easy_setopt(easy, CURLOPT_URL, urls[next++].c_str());
    curl_multi_add_handle(multi, easy);
  };
  for (long i = 0; i < connections && next < urls.size(); ++i) {
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Count);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &bytes);
    start_next(easy);
  }
  for (int running = 1; running > 0;) {
    curl_multi_perform(multi, &running);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
      if (message->msg != CURLMSG_DONE)
        continue;
      CURL* easy = message->easy_handle;
      long status = 0;
      curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
      if (message->data.result != CURLE_OK || status != 200)
        ++failures;
      curl_multi_remove_handle(multi, easy);
      if (next < urls.size()) {
        start_next(easy);
        running = 1;
      } else {
        curl_easy_cleanup(easy);
      }
    }
    if (running > 0)
      curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
  }
  curl_multi_cleanup(multi);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::cout << urls.size() << " archives " << bytes << " bytes " << seconds << " s\n";
  if (failures > 0)
    std::cerr << failures << " requests failed\n";
  return failures > 0 ? 1 : 0;
}
