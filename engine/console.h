// The console: every message, report and progress line of the program goes to
// one stream, the standard error stream by default. Tests redirect it to
// compare the exact text.
#pragma once

#include <ostream>

namespace tavro {

std::ostream& con();

// Redirects the console to `os` (nullptr restores the standard error stream).
void setConsole(std::ostream* os);

// Makes the standard error stream unit-buffered and ties it to standard output.
void initConsole();

// Memory the process may still take, in bytes (available physical memory,
// bounded by the address-space limit); 0 when it cannot be determined.
unsigned long long availableMemoryBytes();

// True when `bytes` more can be allocated without exceeding the memory the
// machine has. Used before large allocations so that a request that cannot
// fit fails with a message instead of ending in an out-of-memory kill.
bool memoryFits(unsigned long long bytes);

// Lowers the memory the process may take to `bytes` (0 removes the limit).
// Fuzz targets and tests use it where an address-space limit cannot be set.
void setMemoryLimit(unsigned long long bytes);

}  // namespace tavro
