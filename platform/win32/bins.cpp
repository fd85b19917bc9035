// The recycle bins of Windows volumes, which the scan and the purge never
// enter.
#include "platform/shared/bins.h"

#include "platform/platform.h"

int IsRecycleBinName(const wchar_t *, const wchar_t *name) {
  return IsWindowsBinName(name);
}
