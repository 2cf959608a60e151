#include <sys/resource.h>

#include "support/peak_memory.h"

long PeakMemoryKiB() {
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}
