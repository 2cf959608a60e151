#include <windows.h>
#include <psapi.h>

#include "support/peak_memory.h"

long PeakMemoryKiB() {
  PROCESS_MEMORY_COUNTERS counters{};
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
  return static_cast<long>(counters.PeakWorkingSetSize / 1024);
}
