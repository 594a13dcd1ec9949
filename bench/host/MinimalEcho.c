/* The least a native messaging host can do: read each frame from standard
 * input and write its body back as one frame. The host benchmarks run it
 * beside the host program as the floor set by process start-up and pipes. */
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

static int read_all(unsigned char* p, size_t n) {
  while (n > 0) {
    ssize_t got = read(0, p, n);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return 0;
    p += got;
    n -= (size_t)got;
  }
  return 1;
}

int main(void) {
  unsigned char prefix[4];
  while (read_all(prefix, 4)) {
    uint32_t n = prefix[0] | prefix[1] << 8 | prefix[2] << 16 | (uint32_t)prefix[3] << 24;
    if (n == 0 || n == 0xFFFFFFFFu) break;
    unsigned char* frame = malloc((size_t)n + 4);
    if (frame == NULL || !read_all(frame + 4, n)) return 1;
    for (int i = 0; i < 4; ++i) frame[i] = prefix[i];
    if (write(1, frame, (size_t)n + 4) != (ssize_t)n + 4) return 1;
    free(frame);
  }
  return 0;
}
