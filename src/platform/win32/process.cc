#include "platform/process.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <memory>
#include <span>
#include <vector>

#include "platform/capture_clock.h"
#include "platform/environment.h"
#include "platform/win32/owned_handle.h"
#include "platform/win32/text.h"

namespace tolvanik::platform {
namespace {

// Calls a system function that fills a buffer and returns the length it
// wrote, or the length it needs when the buffer is too small.
template <typename Fill>
std::wstring fetch_text(Fill fill) {
  std::wstring text(MAX_PATH, L'\0');
  while (true) {
    const UINT length = fill(text.data(), static_cast<UINT>(text.size()));
    if (length == 0) return {};
    if (length < text.size()) {
      text.resize(length);
      return text;
    }
    text.resize(std::max<std::size_t>(length, text.size() * 2));
  }
}

std::wstring own_directory() {
  const std::wstring path = fetch_text([](wchar_t* buffer, UINT size) -> UINT {
    const DWORD length = GetModuleFileNameW(nullptr, buffer, size);
    // A truncated name fills the buffer exactly; ask for a larger one.
    return length == size ? size : length;
  });
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool is_regular_file(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::wstring> path_directories() {
  std::vector<std::wstring> directories;
  const auto path = environment_variable("PATH");
  if (!path) return directories;
  std::size_t start = 0;
  while (start <= path->size()) {
    const std::size_t end = std::min(path->find(';', start), path->size());
    std::string_view entry(path->data() + start, end - start);
    // Entries with a ';' in them are written in double quotes.
    if (entry.size() >= 2 && entry.front() == '"' && entry.back() == '"') {
      entry = entry.substr(1, entry.size() - 2);
    }
    // An empty entry would mean the current directory, which is never searched.
    if (!entry.empty()) directories.push_back(to_wide(entry));
    start = end + 1;
  }
  return directories;
}

// Quotes one argument so that the child's command-line parser gives it back
// unchanged: backslashes count only in front of a double quote.
void append_quoted(std::wstring& command_line, std::wstring_view argument) {
  if (!command_line.empty()) command_line.push_back(L' ');
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring_view::npos) {
    command_line.append(argument);
    return;
  }
  command_line.push_back(L'"');
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    command_line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    command_line.push_back(c);
  }
  // Before the closing quote they are doubled too.
  command_line.append(backslashes * 2, L'\\');
  command_line.push_back(L'"');
}

// The name the child sees as its own: the program's file name without ".exe".
std::wstring bare_name_of(const std::wstring& program) {
  const std::size_t slash = program.find_last_of(L"\\/");
  std::wstring name = slash == std::wstring::npos ? program : program.substr(slash + 1);
  if (name.size() > 4) {
    std::wstring extension = name.substr(name.size() - 4);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    if (extension == L".exe") name.resize(name.size() - 4);
  }
  return name;
}

// Reads a pipe to its end; the bytes go to `sink` unless it is null.
bool drain_pipe(HANDLE pipe, std::string* sink) {
  char chunk[4096];
  while (true) {
    DWORD got = 0;
    if (!ReadFile(pipe, chunk, sizeof chunk, &got, nullptr)) {
      return GetLastError() == ERROR_BROKEN_PIPE;
    }
    if (sink != nullptr) sink->append(chunk, got);
  }
}

DWORD WINAPI discard_pipe(void* pipe) {
  drain_pipe(static_cast<HANDLE>(pipe), nullptr);
  return 0;
}

struct CollectedPipe {
  HANDLE pipe;
  std::string bytes;
  bool whole = false;
};

DWORD WINAPI collect_pipe(void* target) {
  auto* collected = static_cast<CollectedPipe*>(target);
  collected->whole = drain_pipe(collected->pipe, &collected->bytes);
  return 0;
}

// This process's standard error as a handle the child may inherit, or the
// null device when there is none.
OwnedHandle inheritable_stderr(SECURITY_ATTRIBUTES& inheritable) {
  HANDLE copy = nullptr;
  const HANDLE own = GetStdHandle(STD_ERROR_HANDLE);
  if (own != nullptr && own != INVALID_HANDLE_VALUE &&
      DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE,
                      DUPLICATE_SAME_ACCESS)) {
    return OwnedHandle(copy);
  }
  return OwnedHandle(CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inheritable, OPEN_EXISTING, 0, nullptr));
}

struct AttributeListDeleter {
  void operator()(LPPROC_THREAD_ATTRIBUTE_LIST list) const {
    DeleteProcThreadAttributeList(list);
    ::operator delete(list);
  }
};
using AttributeList = std::unique_ptr<_PROC_THREAD_ATTRIBUTE_LIST, AttributeListDeleter>;

// An attribute list that hands exactly `handles` to the child, however
// many other inheritable handles the process holds.
AttributeList inherit_only(std::span<HANDLE> handles) {
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  auto* list = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(::operator new(size));
  if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) {
    ::operator delete(list);
    return nullptr;
  }
  AttributeList owned(list);
  if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                                 handles.size_bytes(), nullptr, nullptr)) {
    return nullptr;
  }
  return owned;
}

// The child's three standard handles, the only handles it inherits.
struct ChildStreams {
  HANDLE input;
  HANDLE output;
  HANDLE errors;
};

// Starts the child in `directory` (the caller's when null); ERROR_SUCCESS or
// the reason it could not start.
DWORD create_child(const std::wstring& application, std::wstring& command_line,
                   const wchar_t* directory, ChildStreams streams, PROCESS_INFORMATION& child) {
  HANDLE child_handles[] = {streams.input, streams.output, streams.errors};
  const AttributeList attributes = inherit_only(child_handles);
  if (!attributes) return GetLastError();
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = streams.input;
  startup.StartupInfo.hStdOutput = streams.output;
  startup.StartupInfo.hStdError = streams.errors;
  startup.lpAttributeList = attributes.get();
  if (!CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                      EXTENDED_STARTUPINFO_PRESENT, nullptr, directory, &startup.StartupInfo,
                      &child)) {
    return GetLastError();
  }
  return ERROR_SUCCESS;
}

// The pipes of a captured child: the ends it inherits and ours, and the
// null device as its input.
struct CapturePipes {
  OwnedHandle output_read, output_write, errors_read, errors_write, null_input;
};

std::expected<void, std::string> open_capture_pipes(CapturePipes& pipes) {
  // The child's ends are inheritable; the attribute list of create_child
  // limits the inheritance to them.
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  if (!CreatePipe(pipes.output_read.out(), pipes.output_write.out(), &inheritable, 0) ||
      !CreatePipe(pipes.errors_read.out(), pipes.errors_write.out(), &inheritable, 0) ||
      !SetHandleInformation(pipes.output_read.get(), HANDLE_FLAG_INHERIT, 0) ||
      !SetHandleInformation(pipes.errors_read.get(), HANDLE_FLAG_INHERIT, 0)) {
    return std::unexpected(last_error_text());
  }
  pipes.null_input.reset();
  *pipes.null_input.out() = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        &inheritable, OPEN_EXISTING, 0, nullptr);
  if (!pipes.null_input.valid()) return std::unexpected(last_error_text());
  return {};
}

// Waits for `process` to end, or until `clock` stops the wait.
std::expected<CaptureStop, std::string> wait_for_child(HANDLE process, CaptureClock& clock) {
  while (true) {
    const int wait = clock.wait_milliseconds();
    const DWORD waited =
        WaitForSingleObject(process, wait < 0 ? INFINITE : static_cast<DWORD>(wait));
    if (waited == WAIT_OBJECT_0) return CaptureStop::kFinished;
    if (waited != WAIT_TIMEOUT) return std::unexpected(last_error_text());
    if (const auto stop = clock.stop_now()) return *stop;
  }
}

// The exit code of `process` once it has ended; one still running after
// `timeout` is ended and has none.
std::optional<int> finish_within(HANDLE process, std::chrono::milliseconds timeout) {
  if (WaitForSingleObject(process, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0) {
    DWORD status = 0;
    GetExitCodeProcess(process, &status);
    return static_cast<int>(status);
  }
  TerminateProcess(process, 1);
  WaitForSingleObject(process, INFINITE);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> find_system_program(std::string_view bare_name) {
  std::vector<std::wstring> directories;
  directories.push_back(own_directory());
  directories.push_back(fetch_text(GetSystemDirectoryW));
  directories.push_back(fetch_text(GetWindowsDirectoryW));
  for (auto& directory : path_directories()) directories.push_back(std::move(directory));
  const std::wstring file_name = to_wide(bare_name) + L".exe";
  for (const auto& directory : directories) {
    if (directory.empty()) continue;
    std::wstring candidate = directory;
    if (candidate.back() != L'\\' && candidate.back() != L'/') candidate.push_back(L'\\');
    candidate += file_name;
    if (is_regular_file(candidate)) return to_utf8_lossy(candidate);
  }
  return std::nullopt;
}

std::expected<Capture, std::string> run_and_capture(const std::string& program,
                                                    const std::vector<std::string>& arguments,
                                                    const CaptureLimits& limits) {
  const std::wstring application = to_wide(program);
  std::wstring command_line;
  append_quoted(command_line, bare_name_of(application));
  for (const auto& argument : arguments) append_quoted(command_line, to_wide(argument));
  CapturePipes pipes;
  if (auto opened = open_capture_pipes(pipes); !opened) return std::unexpected(opened.error());

  // Both pipes are read on threads of their own, so that a child filling
  // either never waits for the other to be read, and this thread can time
  // the child. Each thread ends when the last write end of its pipe closes,
  // whether or not the child ever starts.
  CollectedPipe output{pipes.output_read.get(), {}, false};
  OwnedHandle errors_reader(
      CreateThread(nullptr, 0, discard_pipe, pipes.errors_read.get(), 0, nullptr));
  OwnedHandle output_reader(CreateThread(nullptr, 0, collect_pipe, &output, 0, nullptr));
  if (!errors_reader.valid() || !output_reader.valid()) {
    // A reader that did start ends once the write ends are closed.
    pipes.output_write.reset();
    pipes.errors_write.reset();
    if (errors_reader.valid()) WaitForSingleObject(errors_reader.get(), INFINITE);
    if (output_reader.valid()) WaitForSingleObject(output_reader.get(), INFINITE);
    return std::unexpected(last_error_text());
  }
  PROCESS_INFORMATION child{};
  const DWORD start_error = create_child(
      application, command_line, nullptr,
      {pipes.null_input.get(), pipes.output_write.get(), pipes.errors_write.get()}, child);
  // Only the child may hold the write ends now, so the reads end with it.
  pipes.output_write.reset();
  pipes.errors_write.reset();
  pipes.null_input.reset();
  OwnedHandle process(start_error == ERROR_SUCCESS ? child.hProcess : nullptr);
  OwnedHandle thread(start_error == ERROR_SUCCESS ? child.hThread : nullptr);
  CaptureClock clock(limits);
  const auto waited = process.valid() ? wait_for_child(process.get(), clock) : CaptureStop{};
  if (waited && *waited != CaptureStop::kFinished) TerminateProcess(process.get(), 1);
  WaitForSingleObject(output_reader.get(), INFINITE);
  WaitForSingleObject(errors_reader.get(), INFINITE);
  if (!process.valid()) return std::unexpected(error_text(start_error));
  if (!waited) return std::unexpected(waited.error());
  if (*waited == CaptureStop::kFinished && !output.whole) {
    return std::unexpected("reading the child's output failed");
  }
  return Capture{std::move(output.bytes), *waited};
}

std::string sibling_program_path(std::string_view bare_name) {
  return to_utf8_lossy(own_directory() + L"\\" + to_wide(bare_name) + L".exe");
}

std::expected<ChildRun, std::string> run_with_input(const std::string& program,
                                                    const std::vector<std::string>& arguments,
                                                    const std::string& working_directory,
                                                    std::string_view input,
                                                    std::chrono::milliseconds timeout) {
  const std::wstring application = to_wide(program);
  std::wstring command_line;
  append_quoted(command_line, application);
  for (const auto& argument : arguments) append_quoted(command_line, to_wide(argument));

  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  OwnedHandle input_read, input_write, output_read, output_write;
  if (!CreatePipe(input_read.out(), input_write.out(), &inheritable, 0) ||
      !CreatePipe(output_read.out(), output_write.out(), &inheritable, 0) ||
      !SetHandleInformation(input_write.get(), HANDLE_FLAG_INHERIT, 0) ||
      !SetHandleInformation(output_read.get(), HANDLE_FLAG_INHERIT, 0)) {
    return std::unexpected(last_error_text());
  }
  OwnedHandle errors = inheritable_stderr(inheritable);
  if (!errors.valid()) return std::unexpected(last_error_text());

  PROCESS_INFORMATION child{};
  const std::wstring directory = to_wide(working_directory);
  if (const DWORD error = create_child(application, command_line, directory.c_str(),
                                       {input_read.get(), output_write.get(), errors.get()}, child);
      error != ERROR_SUCCESS) {
    return std::unexpected(error_text(error));
  }
  OwnedHandle process(child.hProcess);
  OwnedHandle thread(child.hThread);
  input_read.reset();
  output_write.reset();
  errors.reset();

  CollectedPipe output{output_read.get(), {}, false};
  OwnedHandle reader(CreateThread(nullptr, 0, collect_pipe, &output, 0, nullptr));
  // The input fits the pipe, so the write does not wait for the child.
  DWORD written = 0;
  WriteFile(input_write.get(), input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
  input_write.reset();

  const std::optional<int> exit_status = finish_within(process.get(), timeout);
  if (reader.valid()) {
    WaitForSingleObject(reader.get(), INFINITE);
  } else {
    drain_pipe(output_read.get(), &output.bytes);
  }
  return ChildRun{std::move(output.bytes), exit_status};
}

}  // namespace tolvanik::platform
