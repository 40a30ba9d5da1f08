// Export control for libkelfstream.so: everything is hidden unless marked.
#pragma once

#define KELFSTREAM_API __attribute__((visibility("default")))
