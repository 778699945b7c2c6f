/* The floor of a "setColors": only the file I/O a storage update does, on
 * the same bytes, with no parsing, merging or formatting. It runs like a
 * host in its event loop: every frame on standard input starts one update,
 * and a fixed reply ends it.
 *
 * One update, under the exclusive lock on storage.json.lock:
 *   read storage.json;
 *   write those bytes to storage.json.tmp, flush them to stable storage,
 *   rename it to storage.json.bak;
 *   write the new bytes (here: the same ones) to storage.json.tmp, flush,
 *   rename it over storage.json; on POSIX also flush the directory.
 * The storage directory is $APPDATA/io.tolvanik.desktop, as for the host. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <wchar.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

static const char kReply[] = "{\"success\":true,\"type\":\"setColorsResult\"}";

#ifdef _WIN32
typedef wchar_t path_char;
#define PATH_TEXT(text) L##text
typedef HANDLE file_handle;
#else
typedef char path_char;
#define PATH_TEXT(text) text
typedef int file_handle;
#endif

struct paths {
  path_char directory[4096];
  path_char storage[4096];
  path_char lock[4096];
  path_char temporary[4096];
  path_char backup[4096];
};

struct bytes {
  char* data;
  size_t size;
};

#ifdef _WIN32

static int find_paths(struct paths* out) {
  const wchar_t* appdata = _wgetenv(L"APPDATA");
  if (appdata == NULL) return 0;
  return _snwprintf(out->directory, 4096, L"%ls\\io.tolvanik.desktop", appdata) > 0 &&
         _snwprintf(out->storage, 4096, L"%ls\\io.tolvanik.desktop\\storage.json", appdata) > 0 &&
         _snwprintf(out->lock, 4096, L"%ls\\io.tolvanik.desktop\\storage.json.lock", appdata) > 0 &&
         _snwprintf(out->temporary, 4096, L"%ls\\io.tolvanik.desktop\\storage.json.tmp", appdata) >
             0 &&
         _snwprintf(out->backup, 4096, L"%ls\\io.tolvanik.desktop\\storage.json.bak", appdata) > 0;
}

static const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

static file_handle lock_storage(const struct paths* paths) {
  HANDLE lock = CreateFileW(paths->lock, GENERIC_WRITE, kShareAll, NULL, OPEN_ALWAYS, 0, NULL);
  if (lock == INVALID_HANDLE_VALUE) return lock;
  OVERLAPPED range = {0};
  if (!LockFileEx(lock, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &range)) {
    CloseHandle(lock);
    return INVALID_HANDLE_VALUE;
  }
  return lock;
}

static void unlock_storage(file_handle lock) {
  UnlockFile(lock, 0, 0, MAXDWORD, MAXDWORD);
  CloseHandle(lock);
}

static int read_file(const path_char* path, struct bytes* out) {
  HANDLE file =
      CreateFileW(path, GENERIC_READ, kShareAll, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  LARGE_INTEGER size;
  DWORD got = 0;
  int ok = GetFileSizeEx(file, &size) && (out->data = malloc((size_t)size.QuadPart + 1)) != NULL &&
           ReadFile(file, out->data, (DWORD)size.QuadPart, &got, NULL);
  out->size = got;
  CloseHandle(file);
  return ok;
}

static int write_durable(const path_char* path, const struct bytes* content) {
  HANDLE file =
      CreateFileW(path, GENERIC_WRITE, kShareAll, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  int ok = WriteFile(file, content->data, (DWORD)content->size, &written, NULL) &&
           written == content->size && FlushFileBuffers(file);
  return CloseHandle(file) && ok;
}

static int replace(const path_char* from, const path_char* to) {
  return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

static void sync_directory(const path_char* directory) { (void)directory; }

#else

static int find_paths(struct paths* out) {
  const char* appdata = getenv("APPDATA");
  if (appdata == NULL) return 0;
  /* Checking every length keeps a too long APPDATA from naming other files. */
  return snprintf(out->directory, 4096, "%s/io.tolvanik.desktop", appdata) < 4096 &&
         snprintf(out->storage, 4096, "%s/io.tolvanik.desktop/storage.json", appdata) < 4096 &&
         snprintf(out->lock, 4096, "%s/io.tolvanik.desktop/storage.json.lock", appdata) < 4096 &&
         snprintf(out->temporary, 4096, "%s/io.tolvanik.desktop/storage.json.tmp", appdata) <
             4096 &&
         snprintf(out->backup, 4096, "%s/io.tolvanik.desktop/storage.json.bak", appdata) < 4096;
}

static struct flock whole_file(short type) {
  struct flock range;
  memset(&range, 0, sizeof range);
  range.l_type = type;
  range.l_whence = SEEK_SET;
  return range;
}

static file_handle lock_storage(const struct paths* paths) {
  int lock = open(paths->lock, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (lock < 0) return lock;
  struct flock range = whole_file(F_WRLCK);
  if (fcntl(lock, F_OFD_SETLKW, &range) != 0) {
    close(lock);
    return -1;
  }
  return lock;
}

static void unlock_storage(file_handle lock) {
  struct flock range = whole_file(F_UNLCK);
  fcntl(lock, F_OFD_SETLK, &range);
  close(lock);
}

static int read_file(const path_char* path, struct bytes* out) {
  int file = open(path, O_RDONLY | O_CLOEXEC);
  if (file < 0) return 0;
  off_t size = lseek(file, 0, SEEK_END);
  lseek(file, 0, SEEK_SET);
  out->data = malloc(size > 0 ? (size_t)size : 1);
  out->size = 0;
  ssize_t got = 1;
  while (out->data != NULL && out->size < (size_t)size && got > 0) {
    got = read(file, out->data + out->size, (size_t)size - out->size);
    if (got > 0) out->size += (size_t)got;
  }
  close(file);
  return out->data != NULL && out->size == (size_t)size;
}

static int write_durable(const path_char* path, const struct bytes* content) {
  int file = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (file < 0) return 0;
  size_t written = 0;
  ssize_t put = 1;
  while (written < content->size && put > 0) {
    put = write(file, content->data + written, content->size - written);
    if (put > 0) written += (size_t)put;
  }
  int ok = written == content->size && fsync(file) == 0;
  return close(file) == 0 && ok;
}

static int replace(const path_char* from, const path_char* to) { return rename(from, to) == 0; }

static void sync_directory(const path_char* directory) {
  int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

#endif

static int update_storage(const struct paths* paths) {
  file_handle lock = lock_storage(paths);
#ifdef _WIN32
  if (lock == INVALID_HANDLE_VALUE) return 0;
#else
  if (lock < 0) return 0;
#endif
  struct bytes content = {NULL, 0};
  int ok = read_file(paths->storage, &content) && write_durable(paths->temporary, &content) &&
           replace(paths->temporary, paths->backup) && write_durable(paths->temporary, &content) &&
           replace(paths->temporary, paths->storage);
  if (ok) sync_directory(paths->directory);
  free(content.data);
  unlock_storage(lock);
  return ok;
}

int main(void) {
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  struct paths paths;
  if (!find_paths(&paths)) return 1;
  const uint32_t reply_length = sizeof kReply - 1;
  const unsigned char reply_header[4] = {reply_length & 0xFF, (reply_length >> 8) & 0xFF,
                                         (reply_length >> 16) & 0xFF, reply_length >> 24};
  unsigned char header[4];
  while (fread(header, 1, 4, stdin) == 4) {
    const uint32_t length = (uint32_t)header[0] | (uint32_t)header[1] << 8 |
                            (uint32_t)header[2] << 16 | (uint32_t)header[3] << 24;
    char* payload = malloc(length ? length : 1);
    if (payload == NULL || fread(payload, 1, length, stdin) != length) return 0;
    free(payload);
    /* A failed update is reported on standard error so that the bench does
     * not take a do-nothing floor for a fast one. */
    if (!update_storage(&paths)) fputs("io_floor: the update failed\n", stderr);
    fwrite(reply_header, 1, 4, stdout);
    fwrite(kReply, 1, reply_length, stdout);
    fflush(stdout);
  }
  return 0;
}
