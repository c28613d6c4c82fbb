// The floor of a durable QSO append, for the benchmark: N times what making
// one QSO line durable takes at the least (open for appending, write one
// 105-byte line, flush it to disk, close). Stands alone: it shares no code
// with the program it is compared with.
//
// Usage: durable_append_floor FILE N   (exit status 1 on any failure)
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A QSO line as the logbook holds it: 104 characters and the line end.
constexpr char kLine[] =
    "01-02-2026    905    930       DL1XYZ      Hans              7055 kHz   J3E    Paris_15"
    "                 \n";
static_assert(sizeof kLine - 1 == 105);

bool append_durably(const char* path) {
  const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const bool written = ::write(fd, kLine, sizeof kLine - 1) == sizeof kLine - 1;
  const bool synced = written && ::fsync(fd) == 0;
  return ::close(fd) == 0 && synced;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FILE N\n", argv[0]);
    return 2;
  }
  const long count = std::strtol(argv[2], nullptr, 10);
  for (long i = 0; i < count; ++i) {
    if (!append_durably(argv[1])) {
      std::fprintf(stderr, "%s: %s\n", argv[1], std::strerror(errno));
      return 1;
    }
  }
  return 0;
}
