// Export control for libkelbase.so: everything is hidden unless marked.
#pragma once

#define KELBASE_API __attribute__((visibility("default")))
