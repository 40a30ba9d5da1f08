// The entry routine and the module's start-up and shut-down steps.
#include "initterm.hpp"

#include "crt.hpp"
#include "hooks.hpp"

#include <cstdio>
#include <unistd.h>

using kelfile::IModule;

namespace {

// Constant-initialised, so it holds the real steps before any load-time code
// of the library runs.
constinit IModule::ISteps theSteps = {
  &_CRT_init,
  &_CRT_term,
  &__IInitTerm,
  &_setProcessDetachInProgress,
  &IModule::constructStatics,
  &IModule::destroyStatics,
};

} // namespace

extern "C" int _DLL_InitTerm(unsigned long, std::uint32_t reasonCalled, void*) {
  const IModule::ISteps& step = theSteps;
  int rc = 1;
  switch (reasonCalled) {
  case kProcessAttach:
    if (step.fRuntimeInit() == -1)
      rc = 0;
    // Whatever _CRT_init returned, the hook and the static construction
    // still run; only the result tells of the failure.
    step.fInitTermHook(reasonCalled);
    step.fConstructStatics();
    break;
  case kProcessDetach:
    step.fDetachInProgress();
    step.fDestroyStatics();
    step.fInitTermHook(reasonCalled);
    step.fRuntimeTerm();
    break;
  case kThreadAttach:
  case kThreadDetach:
    step.fInitTermHook(reasonCalled);
    break;
  default:
    break;
  }
  return rc;
}

namespace kelfile {

IModule::ISteps& IModule::steps() { return theSteps; }

void IModule::constructStatics() {}

void IModule::destroyStatics() {}

void IModule::attach() {
  if (_DLL_InitTerm(0, kProcessAttach, nullptr) != 0)
    return;
  // Nothing can be done about a failed write on the way out.
  std::fputs("libkelfile.so: cannot be loaded: the runtime library (_CRT_init) could not be set up\n", stderr);
  ::_exit(127);
}

void IModule::detach() { _DLL_InitTerm(0, kProcessDetach, nullptr); }

} // namespace kelfile
