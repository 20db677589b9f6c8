#include "core/tests/CoreTestSupport.h"

#include <map>
#include <mutex>

#include "core/LMOConstants.h"
#include "installations/LMOInstallationsAPIService.h"
#include "measurement/frontend/MSRAnalytics.h"
#include "measurement/frontend/tests/FrontendTestSupport.h"
#include "platform/base/Files.h"
#include "platform/base/PropertyList.h"
#include "utilities/logger/VTULogger.h"

namespace core_testing {

namespace rt = platform::runtime;

namespace {

struct Records {
  std::mutex mutex;
  std::map<std::string, int> creations;
  std::vector<std::string> deletions;
};
Records& records() {
  static auto* r = new Records;
  return *r;
}

void countCreation(const std::string& protocol) {
  std::lock_guard lock(records().mutex);
  ++records().creations[protocol];
}

LMOComponentCreationBlock makeService(std::string protocol, std::string cls, bool cache,
                                      std::string maker = "") {
  return [=](LMOComponentContainer&, bool* isCacheable) -> platform::ObjectPtr {
    countCreation(protocol);
    *isCacheable = cache;
    return std::make_shared<TestService>(cls, maker);
  };
}

const rt::ClassRegistrar kServiceClass("CTService", rt::kRootClassName, sizeof(TestService),
                                       [](rt::Class& c) {
                                         for (const char* p :
                                              {kEagerProtocol, kDefaultEagerProtocol, kLazyProtocol,
                                               kDuplicateProtocol}) {
                                           c.addProtocol(p);
                                         }
                                       });

const rt::ClassRegistrar kFirstLibrary(
    "CTFirstLibrary", rt::kRootClassName, sizeof(rt::RootObject), [](rt::Class& c) {
      c.addProtocol(lmo::kLibraryProtocolName);
      c.addClassMethod(
          lmo::kComponentsToRegisterSelector, [](platform::Object&) -> LMOComponentList {
            return {
                LMOComponent::componentWithProtocol(LMOProtocol::named(kEagerProtocol),
                                                    LMOInstantiationTiming::AlwaysEager, {},
                                                    makeService(kEagerProtocol, "CTService", true)),
                LMOComponent::componentWithProtocol(
                    LMOProtocol::named(kDefaultEagerProtocol),
                    LMOInstantiationTiming::EagerInDefaultApp, {},
                    makeService(kDefaultEagerProtocol, "CTService", true)),
                LMOComponent::componentWithProtocol(LMOProtocol::named(kLazyProtocol),
                                                    makeService(kLazyProtocol, "CTService", false)),
                LMOComponent::componentWithProtocol(
                    LMOProtocol::named(kDuplicateProtocol),
                    makeService(kDuplicateProtocol, "CTService", true, "first")),
            };
          });
    });

const rt::ClassRegistrar kSecondLibrary(
    "CTSecondLibrary", rt::kRootClassName, sizeof(rt::RootObject), [](rt::Class& c) {
      c.addProtocol(lmo::kLibraryProtocolName);
      c.addClassMethod(lmo::kComponentsToRegisterSelector,
                       [](platform::Object&) -> LMOComponentList {
                         return {
                             LMOComponent::componentWithProtocol(
                                 LMOProtocol::named(kDuplicateProtocol),
                                 makeService(kDuplicateProtocol, "CTService", true, "second")),
                             // A plain object: conforms to nothing.
                             LMOComponent::componentWithProtocol(
                                 LMOProtocol::named(kMisfitProtocol),
                                 [](LMOComponentContainer&, bool*) -> platform::ObjectPtr {
                                   countCreation(kMisfitProtocol);
                                   return std::make_shared<platform::Object>();
                                 }),
                         };
                       });
    });

const LMOLibraryRegistrar kFirstRegistration("CTFirstLibrary", "ct-first");
const LMOLibraryRegistrar kSecondRegistration("CTSecondLibrary", "ct-second", "2.0.1");

}  // namespace

int creations(const std::string& protocol) {
  std::lock_guard lock(records().mutex);
  auto it = records().creations.find(protocol);
  return it == records().creations.end() ? 0 : it->second;
}

std::vector<std::string> deletionsHeard() {
  std::lock_guard lock(records().mutex);
  return records().deletions;
}

std::string duplicateMaker(const platform::ObjectPtr& instance) {
  auto service = std::dynamic_pointer_cast<TestService>(instance);
  return service ? service->maker() : "";
}

void TestService::appWillBeDeleted(const std::shared_ptr<LMOApp>& app) {
  std::lock_guard lock(records().mutex);
  records().deletions.push_back(app ? app->name() : "(none)");
}

void CoreTest::SetUp() {
  PlatformTest::SetUp();
  vtu::testing::startCapturingLines();
  // The real installations and analytics libraries are linked: no installations service here, so
  // the registration that follows a new identifier fails at once against a closed loopback port.
  LMOInstallationsAPIService::setServiceBaseURL("https://127.0.0.1:9");
}

void CoreTest::TearDown() {
  // Analytics work started by a configuration ends before the sandbox home goes away.
  if (MSRAnalytics::isStarted()) {
    EXPECT_TRUE(frontend_testing::drainAnalytics());
  }
  PlatformTest::TearDown();
}

void CoreTest::writeOptionsPlist(const platform::Value::Dictionary& options) {
  auto bytes =
      platform::serializePropertyList(platform::Value(options), platform::PropertyListFormat::Xml);
  ASSERT_TRUE(bytes);
  ASSERT_TRUE(
      platform::files::writeAtomically(bundleDir() / "VeltroService-Info.plist", *bytes, nullptr));
}

platform::Value::Dictionary CoreTest::validOptions() const {
  return {{"VELTRO_APP_ID", platform::Value(kValidAppID)},
          {"BUNDLE_ID", platform::Value(kTestBundleID)},
          {"API_KEY", platform::Value(kValidAPIKey)},
          {"PROJECT_ID", platform::Value("tavo-soundboard")},
          {"VCM_SENDER_ID", platform::Value("123456")}};
}

std::shared_ptr<LMOOptions> CoreTest::makeOptions(
    const platform::Value::Dictionary& options) const {
  return LMOOptions::initInternalWithOptionsDictionary(options);
}

std::vector<std::string> CoreTest::loggedLines() {
  vtu::testing::flushLoggingQueue();
  std::vector<std::string> lines;
  for (const auto& line : vtu::testing::capturedLines()) lines.push_back(line.line);
  return lines;
}

std::vector<std::string> CoreTest::linesWithCode(const std::string& code) {
  std::vector<std::string> found;
  for (const auto& line : loggedLines()) {
    if (line.find("[" + code + "]") != std::string::npos) found.push_back(line);
  }
  return found;
}

}  // namespace core_testing
