#include "platform/base/Bundle.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>

#include "platform/base/Files.h"
#include "platform/base/PropertyList.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

std::mutex& mainBundleMutex() {
  static auto* m = new std::mutex();
  return *m;
}

std::shared_ptr<Bundle>& cachedMainBundle() {
  static auto* b = new std::shared_ptr<Bundle>();
  return *b;
}

// A name part of a lookup may not climb out of the bundle or hide a NUL.
bool isSafeComponent(const std::string& s) {
  return s.find('/') == std::string::npos && s.find("..") == std::string::npos &&
         s.find('\0') == std::string::npos;
}

fs::path executableDirectory() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::current_path(ec);
  return exe.parent_path();
}

fs::path locateMainBundle() {
  const char* env = std::getenv("TVS_BUNDLE");
  if (env && *env) return fs::path(env);
  fs::path dir = executableDirectory();
  std::vector<fs::path> candidates;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() == ".app" && it->is_directory(ec)) candidates.push_back(it->path());
  }
  if (candidates.empty()) return dir;
  std::sort(candidates.begin(), candidates.end());
  return candidates.front();
}

bool isWithin(const fs::path& root, const fs::path& candidate) {
  std::error_code ec;
  fs::path r = fs::weakly_canonical(root, ec);
  if (ec) return false;
  fs::path c = fs::weakly_canonical(candidate, ec);
  if (ec) return false;
  auto rs = r.native(), cs = c.native();
  return cs.size() > rs.size() && cs.compare(0, rs.size(), rs) == 0 && cs[rs.size()] == '/';
}

bool isUnreserved(unsigned char c) {
  return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/' || c == '!' ||
         c == '$' || c == '&' || c == '\'' || c == '(' || c == ')' || c == '*' || c == '+' ||
         c == ',' || c == ';' || c == '=' || c == ':' || c == '@';
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

Bundle::Bundle(fs::path path) : path_(std::move(path)), info_(Value::Dictionary{}) {
  auto bytes = files::readTextFile(path_ / "Info.plist");
  if (!bytes) return;
  ErrorPtr error;
  Value info = parsePropertyList(*bytes, &error);
  if (info.isDictionary()) info_ = std::move(info);
}

std::shared_ptr<Bundle> Bundle::mainBundle() {
  std::lock_guard<std::mutex> lock(mainBundleMutex());
  auto& cached = cachedMainBundle();
  if (!cached) cached = std::make_shared<Bundle>(locateMainBundle());
  return cached;
}

std::shared_ptr<Bundle> Bundle::bundleWithPath(const fs::path& path) {
  bool isDirectory = false;
  if (path.empty() || !files::exists(path, &isDirectory) || !isDirectory) return nullptr;
  return std::make_shared<Bundle>(path);
}

void Bundle::resetMainBundleForTesting() {
  std::lock_guard<std::mutex> lock(mainBundleMutex());
  cachedMainBundle().reset();
}

std::string Bundle::bundleIdentifier() const {
  const std::string* id = info_["CFBundleIdentifier"].string();
  return id ? *id : std::string();
}

const Value& Bundle::objectForInfoDictionaryKey(std::string_view key) const { return info_[key]; }

std::optional<fs::path> Bundle::pathForResource(const std::string& name, const std::string& type,
                                                const std::string& subdirectory) const {
  std::string extension = type.starts_with(".") ? type.substr(1) : type;
  if (name.empty() || !isSafeComponent(name) || !isSafeComponent(extension) ||
      !isSafeComponent(subdirectory)) {
    return std::nullopt;
  }
  fs::path dir = subdirectory.empty() ? path_ : path_ / subdirectory;
  fs::path candidate = dir / (extension.empty() ? name : name + "." + extension);
  if (!files::exists(candidate)) return std::nullopt;
  // A symbolic link inside the bundle must not lead out of it either.
  if (!isWithin(path_, candidate)) return std::nullopt;
  return candidate;
}

std::optional<std::string> Bundle::urlForResource(const std::string& name, const std::string& type,
                                                  const std::string& subdirectory) const {
  auto path = pathForResource(name, type, subdirectory);
  if (!path) return std::nullopt;
  return fileUrlForPath(*path);
}

std::string fileUrlForPath(const fs::path& path) {
  std::error_code ec;
  fs::path absolute = path.is_absolute() ? path : fs::absolute(path, ec);
  if (ec) absolute = path;
  static const char* kHex = "0123456789ABCDEF";
  std::string out = "file://";
  for (unsigned char c : absolute.native()) {
    if (isUnreserved(c) && c != '%') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::optional<fs::path> pathForFileUrl(std::string_view url) {
  constexpr std::string_view kScheme = "file://";
  if (url.size() < kScheme.size()) return std::nullopt;
  std::string lower(url.substr(0, kScheme.size()));
  for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower != kScheme) return std::nullopt;
  std::string_view rest = url.substr(kScheme.size());
  if (rest.starts_with("localhost/")) rest.remove_prefix(std::string_view("localhost").size());
  if (!rest.starts_with("/")) return std::nullopt;
  // A query or fragment is not part of the path.
  rest = rest.substr(0, rest.find_first_of("?#"));
  std::string decoded;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%') {
      if (i + 2 >= rest.size() || hexDigit(rest[i + 1]) < 0 || hexDigit(rest[i + 2]) < 0) {
        return std::nullopt;
      }
      decoded += static_cast<char>(hexDigit(rest[i + 1]) * 16 + hexDigit(rest[i + 2]));
      i += 2;
    } else {
      decoded += rest[i];
    }
  }
  if (decoded.find('\0') != std::string::npos) return std::nullopt;
  return fs::path(decoded);
}

}  // namespace platform
