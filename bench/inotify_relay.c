/* The floor of the change push: watch the storage directory and, whenever
 * storage.json is replaced or rewritten, read it and write its bytes as one
 * frame, with nothing parsed or built. It answers every frame on standard
 * input with the host's fixed "pong", so a bench can see it is up, and ends
 * with its input. Linux only; the storage directory is
 * $APPDATA/io.tolvanik.desktop, as for the host. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <unistd.h>

static const char kPong[] = "{\"message\":\"Hello from Windows!\",\"type\":\"pong\"}";

static int write_all(const char* data, size_t size) {
  while (size > 0) {
    const ssize_t put = write(STDOUT_FILENO, data, size);
    if (put <= 0) return 0;
    data += put;
    size -= (size_t)put;
  }
  return 1;
}

static int read_all(int fd, char* data, size_t size) {
  while (size > 0) {
    const ssize_t got = read(fd, data, size);
    if (got <= 0) return 0;
    data += got;
    size -= (size_t)got;
  }
  return 1;
}

static void write_frame(const char* payload, uint32_t length) {
  const unsigned char header[4] = {length & 0xFF, (length >> 8) & 0xFF, (length >> 16) & 0xFF,
                                   length >> 24};
  write_all((const char*)header, 4);
  write_all(payload, length);
}

/* One frame in, one pong out; 0 when the input has ended. */
static int answer_input(void) {
  unsigned char header[4];
  if (!read_all(STDIN_FILENO, (char*)header, 4)) return 0;
  const uint32_t length = (uint32_t)header[0] | (uint32_t)header[1] << 8 |
                          (uint32_t)header[2] << 16 | (uint32_t)header[3] << 24;
  char* payload = malloc(length ? length : 1);
  const int complete = payload != NULL && read_all(STDIN_FILENO, payload, length);
  free(payload);
  if (complete) write_frame(kPong, sizeof kPong - 1);
  return complete;
}

static void relay_file(const char* path) {
  const int file = open(path, O_RDONLY | O_CLOEXEC);
  if (file < 0) return;
  const off_t size = lseek(file, 0, SEEK_END);
  char* content = size > 0 ? malloc((size_t)size) : NULL;
  if (content != NULL && pread(file, content, (size_t)size, 0) == size) {
    write_frame(content, (uint32_t)size);
  }
  free(content);
  close(file);
}

/* Relays the storage file once for every event that names it. */
static void relay_changes(int watch, const char* storage) {
  char events[8192] __attribute__((aligned(__alignof__(struct inotify_event))));
  const ssize_t got = read(watch, events, sizeof events);
  for (ssize_t at = 0; at < got;) {
    const struct inotify_event* event = (const struct inotify_event*)(events + at);
    if (event->len > 0 && strcmp(event->name, "storage.json") == 0) relay_file(storage);
    at += (ssize_t)(sizeof *event + event->len);
  }
}

int main(void) {
  const char* appdata = getenv("APPDATA");
  if (appdata == NULL) return 1;
  char directory[4096];
  char storage[4096];
  if (snprintf(directory, sizeof directory, "%s/io.tolvanik.desktop", appdata) >= 4096 ||
      snprintf(storage, sizeof storage, "%s/io.tolvanik.desktop/storage.json", appdata) >= 4096) {
    return 1;
  }
  const int watch = inotify_init1(IN_CLOEXEC);
  if (watch < 0 || inotify_add_watch(watch, directory, IN_CLOSE_WRITE | IN_MOVED_TO) < 0) return 1;
  struct pollfd ready[2] = {{STDIN_FILENO, POLLIN, 0}, {watch, POLLIN, 0}};
  while (poll(ready, 2, -1) >= 0) {
    if (ready[1].revents & POLLIN) relay_changes(watch, storage);
    if ((ready[0].revents & (POLLIN | POLLHUP)) && !answer_input()) return 0;
  }
  return 0;
}
