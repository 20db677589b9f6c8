#include "platform/base/Error.h"

#include <mutex>

namespace platform {

Error::Error(std::string domain, long code, Value::Dictionary userInfo)
    : domain_(std::move(domain)), code_(code), userInfo_(std::move(userInfo)) {}

std::shared_ptr<const Error> Error::make(std::string domain, long code,
                                         Value::Dictionary userInfo) {
  return std::make_shared<const Error>(std::move(domain), code, std::move(userInfo));
}

std::shared_ptr<const Error> Error::withDescription(std::string domain, long code,
                                                    std::string description) {
  return make(std::move(domain), code,
              Value::Dictionary{{kLocalizedDescriptionKey, Value(std::move(description))}});
}

std::string Error::localizedDescription() const {
  auto it = userInfo_.find(kLocalizedDescriptionKey);
  if (it != userInfo_.end() && !it->second.isNil() && !it->second.isNull()) {
    return it->second.description();
  }
  return "The operation couldn't be completed. (" + domain_ + " error " + std::to_string(code_) +
         ".)";
}

std::string Error::description() const {
  std::string out = "Error Domain=" + domain_ + " Code=" + std::to_string(code_) + " \"" +
                    localizedDescription() + "\"";
  if (!userInfo_.empty()) {
    out += " UserInfo={";
    bool first = true;
    for (const auto& [key, value] : userInfo_) {
      if (!first) out += ", ";
      first = false;
      out += key + "=" + value.description();
    }
    out += "}";
  }
  return out;
}

bool Error::isEqual(const Object& other) const {
  auto* e = dynamic_cast<const Error*>(&other);
  return e && e->domain_ == domain_ && e->code_ == code_ && e->userInfo_ == userInfo_;
}

std::size_t Error::hash() const {
  return std::hash<std::string>()(domain_) ^ (std::hash<long>()(code_) << 1);
}

namespace {

std::mutex& handlerMutex() {
  static auto* m = new std::mutex();
  return *m;
}

AssertionHandler::Handler& currentHandler() {
  static auto* h = new AssertionHandler::Handler();
  return *h;
}

}  // namespace

void AssertionHandler::handleFailure(const std::string& function, const std::string& file, int line,
                                     const std::string& description) {
  Handler handler;
  {
    std::lock_guard<std::mutex> lock(handlerMutex());
    handler = currentHandler();
  }
  if (handler) {
    handler(function, file, line, description);
    return;
  }
  throw Exception(kInternalInconsistencyException, description);
}

AssertionHandler::Handler AssertionHandler::setHandler(Handler handler) {
  std::lock_guard<std::mutex> lock(handlerMutex());
  Handler previous = std::move(currentHandler());
  currentHandler() = std::move(handler);
  return previous;
}

}  // namespace platform
