// The module's entry routine, and IModule, the steps it takes, which a test
// can swap to watch their order.
//
// On Linux no loader calls the routine: the library's load runs the attach
// steps (reason 1) and its unload the detach steps (reason 0).
#pragma once

#include "kfexport.hpp"

#include <cstdint>

// Reason codes of _DLL_InitTerm.
enum EInitTermReason : std::uint32_t {
  kProcessDetach = 0,
  kProcessAttach = 1,
  kThreadAttach = 2,
  kThreadDetach = 3
};

// Acts on `reasonCalled`, a 32-bit word as loaders pass it; `hmodule` and
// `reserved` are not used.
//   1 process attach: _CRT_init, then, whatever it returned, __IInitTerm(1)
//     and the construction of the static objects.
//   0 process detach: _setProcessDetachInProgress, the destruction of the
//     static objects, __IInitTerm(0), and _CRT_term last.
//   2, 3 thread attach and detach: __IInitTerm(reason).
//   anything else: nothing.
// Returns 1, or 0 when _CRT_init returned -1 on process attach.
extern "C" KELFILE_API int _DLL_InitTerm(unsigned long hmodule, std::uint32_t reasonCalled, void* reserved);

namespace kelfile {

// The library as a module of the process: its start-up and shut-down steps.
class IModule {
public:
  // Every step of the entry routine is called through this table.
  struct ISteps {
    int (*fRuntimeInit)();                 // _CRT_init: -1 when the runtime cannot be set up
    void (*fRuntimeTerm)();                // _CRT_term
    void (*fInitTermHook)(unsigned long);  // __IInitTerm
    void (*fDetachInProgress)();           // _setProcessDetachInProgress
    void (*fConstructStatics)();           // IModule::constructStatics
    void (*fDestroyStatics)();             // IModule::destroyStatics
  };

  // The table in use, which starts with the real steps. Swapping it is for
  // tests, on one thread, and they put back what they found.
  static ISteps& steps();

  // The library defines no static objects: both walks find nothing to run.
  static void constructStatics();
  static void destroyStatics();

  // Run by the library's load: the attach steps. A load cannot be refused
  // from here, so when they fail (the runtime cannot be set up) the process
  // ends as the dynamic loader ends it for a library that cannot be loaded:
  // a message on stderr and exit status 127.
  static void attach();
  // Run by the library's unload: the detach steps.
  static void detach();
};

} // namespace kelfile
