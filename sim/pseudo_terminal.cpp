#include "pseudo_terminal.h"

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <system_error>
#include <termios.h>

namespace ravelin::sim {

PseudoTerminal openRawPseudoTerminal()
{
    PseudoTerminal t;
    char name[256] = {};
    if (::openpty(&t.master, &t.slave, name, nullptr, nullptr) != 0)
        throw std::system_error(errno, std::generic_category(), "openpty");
    termios tio{};
    if (::tcgetattr(t.slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B115200);
        ::cfsetospeed(&tio, B115200);
        ::tcsetattr(t.slave, TCSANOW, &tio);
    }
    ::fcntl(t.master, F_SETFL, ::fcntl(t.master, F_GETFL) | O_NONBLOCK);
    ::fcntl(t.master, F_SETFD, FD_CLOEXEC);
    ::fcntl(t.slave, F_SETFD, FD_CLOEXEC);
    t.path = name;
    return t;
}

} // namespace ravelin::sim
