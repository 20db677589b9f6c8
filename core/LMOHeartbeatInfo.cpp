#include "core/LMOHeartbeatInfo.h"

#include <mutex>

#include "core/LMOConstants.h"
#include "platform/dispatch/Clock.h"
#include "utilities/storage/VTUHeartbeatDateStorage.h"

namespace {

std::mutex& classLock() {
  static auto* lock = new std::mutex;
  return *lock;
}

}  // namespace

bool LMOHeartbeatInfo::updateIfNeededHeartbeatDateForTag(const std::string& tag) {
  std::lock_guard lock(classLock());
  auto storage = VTUHeartbeatDateStorage::initWithFileName(std::string(lmo::kHeartbeatStorageName));
  if (!storage) return false;
  platform::ErrorPtr readError;
  const auto stored = storage->heartbeatDateForTag(tag, &readError).dateValue();
  // Not known is not "never reported": nothing is due until the date reads again.
  if (readError) return false;
  const double now = platform::Clock::current().now();
  // A stored date in the future counts as recent, so a clock moved back waits it out.
  if (stored && now - *stored < lmo::kHeartbeatInterval) return false;
  return storage->setHearbeatDate(platform::Value::date(now), tag);
}

LMOHeartbeatCode LMOHeartbeatInfo::heartbeatCodeForTag(const std::string& tag) {
  const bool tagDue = updateIfNeededHeartbeatDateForTag(tag);
  const bool globalDue = updateIfNeededHeartbeatDateForTag(lmo::kGlobalHeartbeatTag);
  if (tagDue && globalDue) return LMOHeartbeatCode::Combined;
  if (tagDue) return LMOHeartbeatCode::SDK;
  if (globalDue) return LMOHeartbeatCode::Global;
  return LMOHeartbeatCode::None;
}
