// Another program on the serial port, in one of three ways:
//
//   port_holder DEVICE        opens DEVICE with QSerialPort (which takes the device's lock file
//                             and exclusive use), says "held", and keeps the port until its
//                             standard input ends. Meanwhile each input line "K<c>" sends that
//                             echo command on the port it holds and prints the reply's bytes in
//                             hexadecimal, to show the port still serves it.
//   port_holder --raw DEVICE  opens DEVICE as a bare terminal client: exclusive use (TIOCEXCL),
//                             no lock file; writes the first byte of a command, says "held", and
//                             waits for its standard input to end (or to be killed mid-command).
//   port_holder --half LOCKFILE N|+N
//                             a program caught making a lock file: creates LOCKFILE the way
//                             QLockFile and UUCP tools do (the file first, then what it says),
//                             writes only the first N bytes of what QLockFile would (process,
//                             program, host), or with +N the first line and N bytes more, says
//                             "held", and waits for its standard input to end (or to be
//                             killed), leaving the file as it is.
//   port_holder --probe DEVICE
//                             opens DEVICE as a client that is not allowed to override exclusive
//                             use (running as root, it first gives up CAP_SYS_ADMIN, the
//                             capability that overrides it) and says "opened" or "refused
//                             <reason>".
#include <QCoreApplication>
#include <QSerialPort>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/capability.h>
#include <sys/syscall.h>
#endif

namespace {

// Says "held" and keeps fd open until standard input ends.
int heldUntilInputEnds(int fd) {
    std::printf("held\n");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    ::close(fd);
    return 0;
}

int holdRaw(const char* device) {
    const int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 || ::ioctl(fd, TIOCEXCL) != 0) {
        std::printf("failed %s\n", std::strerror(errno));
        return 1;
    }
    // A pass-through command's first byte: the rest never comes.
    if (::write(fd, "P", 1) != 1) {
        std::printf("failed %s\n", std::strerror(errno));
        return 1;
    }
    return heldUntilInputEnds(fd);
}

int holdHalf(const char* lockFile, const char* length) {
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const std::string number = std::to_string(::getpid()) + "\n";
    const std::string whole = number + "fault_port_holder\n" + host + "\n";
    const size_t more = size_t(std::max(std::atoi(length), 0));
    const size_t n = std::min(whole.size(), length[0] == '+' ? number.size() + more : more);
    const int fd = ::open(lockFile, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, whole.data(), n) != ssize_t(n)) {
        std::printf("failed %s\n", std::strerror(errno));
        return 1;
    }
    return heldUntilInputEnds(fd);
}

bool dropAdmin() {
#ifdef __linux__
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    data[CAP_SYS_ADMIN / 32].effective &= ~(1u << (CAP_SYS_ADMIN % 32));
    data[CAP_SYS_ADMIN / 32].permitted &= ~(1u << (CAP_SYS_ADMIN % 32));
    return ::syscall(SYS_capset, &header, data) == 0;
#else
    return ::geteuid() != 0;
#endif
}

int probe(const char* device) {
    if (!dropAdmin()) {
        std::printf("failed cannot give up CAP_SYS_ADMIN\n");
        return 1;
    }
    const int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        std::printf("refused %s\n", std::strerror(errno));
        return 0;
    }
    ::close(fd);
    std::printf("opened\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--raw") == 0) return holdRaw(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--probe") == 0) return probe(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "--half") == 0) return holdHalf(argv[2], argv[3]);
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s [--raw|--probe] DEVICE | --half LOCKFILE N|+N\n", argv[0]);
        return 2;
    }
    QSerialPort port(QString::fromLocal8Bit(argv[1]));
    port.setBaudRate(9600);
    if (!port.open(QIODevice::ReadWrite)) {
        std::printf("failed %s\n", qPrintable(port.errorString()));
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);

    std::string line;
    while (std::getline(std::cin, line)) {
        if (line.size() != 2 || line[0] != 'K') continue;
        port.write(line.data(), 2);
        port.waitForBytesWritten(1000);
        QByteArray reply;
        while (reply.size() < 2 && port.waitForReadyRead(2000))
            reply += port.readAll();
        std::printf("reply %s\n", reply.toHex().constData());
        std::fflush(stdout);
    }
    port.close();
    return 0;
}
