#include "core/LMOLibrary.h"

#include "core/LMOApp.h"
#include "core/LMOConstants.h"

namespace rt = platform::runtime;

namespace {

// The protocols the registry checks by name.
const rt::ProtocolRegistrar kLibraryProtocol(
    lmo::kLibraryProtocolName, {{lmo::kComponentsToRegisterSelector, "@@:", true, false},
                                {lmo::kConfigureWithAppSelector, "v@:@", false, false}});
const rt::ProtocolRegistrar kLifecycleMaintainerProtocol(lmo::kLifecycleMaintainerProtocolName,
                                                         {{lmo::kAppWillBeDeletedSelector, "v@:@",
                                                           true, true}});

}  // namespace

LMOLibraryRegistrar::LMOLibraryRegistrar(const char* className, const char* libraryName)
    : LMOLibraryRegistrar(className, libraryName, lmo::kCoreSDKVersion) {}

LMOLibraryRegistrar::LMOLibraryRegistrar(const char* className, const char* libraryName,
                                         const char* version) {
  LMOApp::registerInternalLibrary(rt::classNamed(className), libraryName, version);
}
