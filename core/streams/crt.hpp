// Start-up and shut-down of the stream runtime, called by the module
// entry routine of a library that uses it.
#pragma once

#include "krexport.hpp"

// 0 when the runtime is ready, -1 when it cannot be set up. Calls nest: each
// successful _CRT_init is matched by one _CRT_term.
extern "C" KELRT_API int _CRT_init(void);
extern "C" KELRT_API void _CRT_term(void);
