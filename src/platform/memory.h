// How the process's heap treats memory it has been given back.
#pragma once

namespace tolvanik::platform {

// Puts every thread started after the call on the process's one heap, and
// keeps memory freed by the program there for its next allocations instead
// of returning it to the system. A host that answers request after request
// of about the same size then reuses the pages of one request for the
// next, rather than having each one faulted in and cleared afresh; the
// resident size stays near the largest request's. The one heap grows in
// large steps, where a thread's own heap would grow a page at a time.
void keep_freed_memory_in_one_heap();

}  // namespace tolvanik::platform
