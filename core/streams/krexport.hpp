// Export control for libkelrt.so: everything is hidden unless marked.
#pragma once

#define KELRT_API __attribute__((visibility("default")))
// For members of exported classes that only the library itself calls: they
// stay out of the export table and are called directly, not through the PLT.
#define KELRT_LOCAL __attribute__((visibility("hidden")))
