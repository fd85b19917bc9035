// The Linux build's table of platform calls: the stand-ins themselves, each
// entry the function of its own name.
#include <cstdlib>

#include "platform/platform.h"

namespace {

DWORD WaitCriticalSection(LPCRITICAL_SECTION cs) {
  EnterCriticalSection(cs);
  return WAIT_OBJECT_0;
}

}  // namespace

#define TWINSIFT_OWN_CALL(Name, ...) .Name = Name,
PlatformCalls platformCalls = {TWINSIFT_PLATFORM_CALLS(TWINSIFT_OWN_CALL)};
#undef TWINSIFT_OWN_CALL
