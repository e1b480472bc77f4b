// Another program that has the serial port open: it opens DEVICE with QSerialPort (which takes
// the device's lock file and exclusive use), says "held" on standard output, and keeps the port
// until its standard input ends. Meanwhile each input line "K<c>" sends that echo command on the
// port it holds and prints the reply's bytes in hexadecimal, to show the port still serves it.
#include <QCoreApplication>
#include <QSerialPort>
#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DEVICE\n", argv[0]);
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
