// Load-time registration of the library with the host's memory service. The object is
// constructed during static initialisation when the library is loaded and destroyed when
// it is unloaded. Linux has no per-thread attach/detach notifications to turn off.
#include <host/host_services.h>

namespace {
MEMORY_INITIALIZER s_memory_initializer("NUV");
}
