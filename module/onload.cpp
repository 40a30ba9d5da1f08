// Linux has no loader call for a library's entry routine: the library's load
// and unload run its attach and detach steps instead. Nothing refers to this
// unit, so a program linking the static archive leaves it out.
#include "initterm.hpp"

using kelfile::IModule;

namespace {

__attribute__((constructor)) void attachOnLoad() { IModule::attach(); }

__attribute__((destructor)) void detachOnUnload() { IModule::detach(); }

} // namespace
