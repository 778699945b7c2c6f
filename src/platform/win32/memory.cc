#include "platform/memory.h"

namespace tolvanik::platform {

// The C runtime's heap offers no setting for this: large blocks go back to
// the system when freed.
void keep_freed_memory() {}

}  // namespace tolvanik::platform
