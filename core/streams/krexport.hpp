// Export control for libkelrt.so: everything is hidden unless marked.
#pragma once

#define KELRT_API __attribute__((visibility("default")))
