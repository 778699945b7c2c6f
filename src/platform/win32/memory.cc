#include "platform/memory.h"

namespace tolvanik::platform {

// The C runtime has one process heap already, and it offers no setting to
// keep memory: large blocks go back to the system when freed.
void keep_freed_memory_in_one_heap() {}

}  // namespace tolvanik::platform
