// Line speeds that have no Bxxx constant, through termios2 (kept apart:
// <asm/termbits.h> and <termios.h> cannot be included together).
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace brelo {

bool SetCustomSerialSpeed(int fd, int rate) {
  struct termios2 t;
  if (::ioctl(fd, TCGETS2, &t) != 0) return false;
  t.c_cflag &= ~CBAUD;
  t.c_cflag |= BOTHER;
  t.c_ispeed = static_cast<speed_t>(rate);
  t.c_ospeed = static_cast<speed_t>(rate);
  return ::ioctl(fd, TCSETS2, &t) == 0;
}

}  // namespace brelo
