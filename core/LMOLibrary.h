// The two protocols of the component registry. A library is a runtime class (platform::runtime)
// that declares the protocol "LMOLibrary" and has the class method "componentsToRegister"
// returning LMOComponentList; it may also have the class method "configureWithApp:" taking
// std::shared_ptr<LMOApp>. It registers itself before main from a namespace-scope registrar:
//
//   const platform::runtime::ClassRegistrar kClass("LMOInstallations", kRootClassName, size,
//       [](Class& c) {
//         c.addProtocol(lmo::kLibraryProtocolName);
//         c.addClassMethod("componentsToRegister", [](Object&) -> LMOComponentList { ... });
//       });
//   const LMOLibraryRegistrar kLibrary("LMOInstallations", "lumo-install");
//
// Cached instances that want to hear of their app's deletion derive from
// LMOComponentLifecycleMaintainer, or declare that runtime protocol and answer
// "appWillBeDeleted:" (taking std::shared_ptr<LMOApp>).
#pragma once

#include <memory>
#include <string>

#include "core/LMOComponent.h"

class LMOApp;

class LMOComponentLifecycleMaintainer {
 public:
  virtual ~LMOComponentLifecycleMaintainer() = default;
  virtual void appWillBeDeleted(const std::shared_ptr<LMOApp>& app) = 0;
};

// Class-load registration of a library: calls LMOApp::registerInternalLibrary with the runtime
// class of that name (version: the core SDK version unless given). Only registers. A class that
// is not a library raises, as registration of a wrong class is a programming error.
class LMOLibraryRegistrar {
 public:
  LMOLibraryRegistrar(const char* className, const char* libraryName);
  LMOLibraryRegistrar(const char* className, const char* libraryName, const char* version);
};
