#include "platform/app/UrlOpener.h"

#include <cctype>
#include <thread>

#include "platform/app/Spawn.h"

namespace platform::app {

bool UrlOpener::isOpenableUrl(const std::string& url) {
  const auto colon = url.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  if (!std::isalpha(static_cast<unsigned char>(url[0]))) return false;
  for (std::size_t i = 1; i < colon; ++i) {
    const auto c = static_cast<unsigned char>(url[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
  }
  for (unsigned char c : url) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

bool UrlOpener::open(const std::string& url, std::function<void(bool)> completion,
                     DispatchQueuePtr queue) {
  if (!isOpenableUrl(url)) {
    if (completion) {
      (queue ? queue : DispatchQueue::main())->async([completion] { completion(false); });
    }
    return false;
  }
  // A thread of its own: some handlers keep xdg-open waiting until the opened program exits,
  // which must not hold a worker of the shared pool.
  std::thread([url, completion = std::move(completion), queue = std::move(queue)] {
    ErrorPtr error;
    const auto status = runProgram({"xdg-open", url}, std::nullopt, &error);
    const bool opened = status && *status == 0;
    if (completion) {
      (queue ? queue : DispatchQueue::main())->async([completion, opened] { completion(opened); });
    }
  }).detach();
  return true;
}

}  // namespace platform::app
