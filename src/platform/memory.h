// How the process's heap treats memory it has been given back.
#pragma once

namespace tolvanik::platform {

// Keeps memory freed by the program for its next allocations instead of
// returning it to the system. A host that answers request after request
// of about the same size then reuses the pages of one request for the
// next, rather than having each one faulted in and cleared afresh; the
// resident size stays near the largest request's. Threads started after
// the call share that memory and let it grow in large steps.
void keep_freed_memory();

}  // namespace tolvanik::platform
