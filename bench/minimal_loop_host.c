/* The least a running host can do: read frames until the input ends and
 * answer each with a fixed reply. The baseline of the pipelined "ping". */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

static const char kReply[] = "{\"message\":\"Hello from Windows!\",\"type\":\"pong\"}";

int main(void) {
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  /* Each frame is read as it comes, with no read-ahead into the next one:
   * the pattern of a host that answers every message the moment it has it. */
  setvbuf(stdin, NULL, _IONBF, 0);
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
    fwrite(reply_header, 1, 4, stdout);
    fwrite(kReply, 1, reply_length, stdout);
    fflush(stdout);
  }
  return 0;
}
