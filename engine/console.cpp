#include "engine/console.h"

#include <sys/resource.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

namespace tavro {

namespace {
std::ostream* g_console = nullptr;
unsigned long long g_memoryLimit = 0;
}  // namespace

std::ostream& con() { return g_console ? *g_console : std::cerr; }

void setConsole(std::ostream* os) { g_console = os; }

void initConsole() {
  std::cerr.setf(std::ios::unitbuf);
  std::cerr.tie(&std::cout);
}

unsigned long long availableMemoryBytes() {
  unsigned long long avail = 0;
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  unsigned long long value = 0;
  std::string unit;
  while (meminfo >> key >> value) {
    std::getline(meminfo, unit);
    if (key == "MemAvailable:") {
      avail = value * 1024ULL;
      break;
    }
  }
  struct rlimit rl {};
  if (getrlimit(RLIMIT_AS, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) {
    if (avail == 0 || rl.rlim_cur < avail) avail = rl.rlim_cur;
  }
  if (g_memoryLimit != 0 && (avail == 0 || g_memoryLimit < avail)) avail = g_memoryLimit;
  return avail;
}

void setMemoryLimit(unsigned long long bytes) { g_memoryLimit = bytes; }

bool memoryFits(unsigned long long bytes) {
  unsigned long long avail = availableMemoryBytes();
  return avail == 0 || bytes <= avail;
}

}  // namespace tavro
