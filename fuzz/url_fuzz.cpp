// URL strings from outside (a resource's "file://" URL, a URL handed to the desktop opener):
// parsing never fails hard, and every path survives the trip to a URL and back.
#include <string>

#include "fuzz/FuzzTarget.h"
#include "platform/app/UrlOpener.h"
#include "platform/base/Bundle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(fuzz::textOf(data, size));
  platform::pathForFileUrl(text);
  bool openable = platform::app::UrlOpener::isOpenableUrl(text);
  fuzz::require(!openable || text.find(':') != std::string::npos, "an openable URL has a scheme");
  if (text.empty() || text.front() != '/' || text.find('\0') != std::string::npos) return 0;
  std::filesystem::path path(text);
  std::string url = platform::fileUrlForPath(path);
  fuzz::require(platform::app::UrlOpener::isOpenableUrl(url), "a file URL is openable");
  auto back = platform::pathForFileUrl(url);
  fuzz::require(back && *back == path, "a path survives the trip to a file URL and back");
  return 0;
}
