// A pseudo-terminal pair for tests that need a real serial device path.
#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>

#include <pty.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

class TestPty
{
public:
    TestPty()
    {
        char name[128] = {};
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            return;
        termios tio;
        tcgetattr(m_master, &tio);
        cfmakeraw(&tio); // no echo, no translation
        tcsetattr(m_master, TCSANOW, &tio);
        m_path = QString::fromLocal8Bit(name);
    }
    ~TestPty()
    {
        for (const int fd : {m_master, m_slave})
            if (fd >= 0)
                ::close(fd);
    }
    TestPty(const TestPty &) = delete;
    TestPty &operator=(const TestPty &) = delete;

    bool isValid() const { return !m_path.isEmpty(); }
    QString path() const { return m_path; }
    int master() const { return m_master; }

    // Bytes the program wrote to the device, waiting up to |ms|.
    QByteArray readMaster(int ms = 500)
    {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(m_master, &set);
        timeval tv{ms / 1000, suseconds_t(ms % 1000) * 1000};
        char buf[4096];
        const ssize_t n =
            select(m_master + 1, &set, nullptr, nullptr, &tv) > 0 ? ::read(m_master, buf, sizeof buf) : 0;
        return QByteArray(buf, int(std::max<ssize_t>(n, 0)));
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
};
