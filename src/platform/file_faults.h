// Lets tests make one chosen file operation of the file layer fail, to walk
// every failure point of a storage request, and make the kernel refuse to
// copy between files as some file systems do. Only a build configured with
// TOLVANIK_FAULT_INJECTION has the switches; in any other build the checks
// are constants and cost nothing.
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

// From now on every copy inside the kernel is refused with the error number
// `error` before it copies anything, as a file system that cannot copy that
// way refuses it (EXDEV, EOPNOTSUPP); 0 lets the kernel copy again.
void refuse_kernel_copy(int error);

// The error number chosen by refuse_kernel_copy, 0 when none.
int kernel_copy_refusal();
#else
constexpr bool inject_file_fault() { return false; }
constexpr int kernel_copy_refusal() { return 0; }
#endif

}  // namespace tolvanik::platform
