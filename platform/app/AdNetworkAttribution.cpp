#include "platform/app/AdNetworkAttribution.h"

#include <atomic>

namespace platform::app {
namespace {
std::atomic<int> registrations{0};
}

void AdNetworkAttribution::registerAppForAdNetworkAttribution() { ++registrations; }

int AdNetworkAttribution::registrationCount() { return registrations.load(); }

}  // namespace platform::app
