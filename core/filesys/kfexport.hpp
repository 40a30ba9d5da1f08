// Export control for libkelfile.so: only what is marked leaves the library.
#pragma once

#define KELFILE_API __attribute__((visibility("default")))
