// Lets tests make one chosen file operation of the file layer fail, to walk
// every failure point of a storage request. Only a build configured with
// TOLVANIK_FAULT_INJECTION has the switch; in any other build the check is a
// constant false and costs nothing.
#pragma once

namespace tolvanik::platform {

#ifdef TOLVANIK_FAULT_INJECTION
// Restarts the count of file operations and makes the `n`th one from now
// fail (1 is the next one); 0 lets every operation succeed.
void fail_file_operation(int n);

// The file operations counted since the last fail_file_operation.
int file_operations_seen();

// Counts one file operation; true when it is the one chosen to fail.
bool file_operation_fails();

inline bool inject_file_fault() { return file_operation_fails(); }
#else
constexpr bool inject_file_fault() { return false; }
#endif

}  // namespace tolvanik::platform
