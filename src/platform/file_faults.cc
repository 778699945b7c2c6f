#include "platform/file_faults.h"

#include <atomic>

namespace tolvanik::platform {
namespace {

// Test builds only: the chosen operation and the count so far, and the
// error that refuses a copy inside the kernel.
std::atomic<int> operation_to_fail{0};
std::atomic<int> operations_seen{0};
std::atomic<int> kernel_copy_error{0};

}  // namespace

void fail_file_operation(int n) {
  operations_seen = 0;
  operation_to_fail = n;
}

int file_operations_seen() { return operations_seen; }

bool file_operation_fails() { return ++operations_seen == operation_to_fail; }

void refuse_kernel_copy(int error) { kernel_copy_error = error; }

int kernel_copy_refusal() { return kernel_copy_error; }

}  // namespace tolvanik::platform
