// Raw byte access to the process's standard input and output.
//
// The browser frames messages on these streams, so no character-set
// conversion or newline translation may happen on the way.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace tolvanik::platform {

// Makes the process robust against a peer that has gone away: a write to a
// closed pipe must fail with an error rather than end the process.
void prepare_process();

// Reads at most `buffer.size()` bytes from standard input, retrying reads the
// system interrupted. Returns the number of bytes read; 0 means the input has
// ended or the read failed.
std::size_t read_stdin_some(std::span<char> buffer);

// Writes all of `bytes` to standard output, continuing short writes. Returns
// false when a write failed; whatever was written before stays written.
bool write_stdout_all(std::string_view bytes);

// True when the writer of standard input has closed it, so that no more
// than what is already in it will come. False when that cannot be told
// (the input is a file or a console). Call only while no other thread reads
// standard input: on some systems the check waits for such a read.
bool stdin_ended();

// Whether the reader of standard output has closed its end, so that
// whatever is written there reaches nobody; always false for a file or a
// terminal. Nothing when the output is a pipe whose state the system does
// not tell.
std::optional<bool> stdout_reader_closed();

// Ends the process at once with `status`, without running exit handlers or
// waiting for other threads, which may be blocked in system calls.
[[noreturn]] void exit_process(int status);

}  // namespace tolvanik::platform
