// A pseudo-terminal pair for tests that need a real serial device path.
#pragma once

#include <QByteArray>
#include <QString>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

class TestPty
{
public:
    TestPty()
    {
        char name[128] = {};
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) == 0) {
            termios tio;
            tcgetattr(m_master, &tio);
            cfmakeraw(&tio);
            tcsetattr(m_master, TCSANOW, &tio);
            m_path = QString::fromLocal8Bit(name);
        }
    }
    ~TestPty()
    {
        if (m_master >= 0)
            ::close(m_master);
        if (m_slave >= 0)
            ::close(m_slave);
    }
    TestPty(const TestPty &) = delete;
    TestPty &operator=(const TestPty &) = delete;

    bool isValid() const { return !m_path.isEmpty(); }
    QString path() const { return m_path; }
    int master() const { return m_master; }

    // Bytes the program wrote to the device, waiting up to |ms|.
    QByteArray readMaster(int ms = 500)
    {
        QByteArray out;
        fd_set set;
        FD_ZERO(&set);
        FD_SET(m_master, &set);
        timeval tv{ms / 1000, (ms % 1000) * 1000};
        if (select(m_master + 1, &set, nullptr, nullptr, &tv) > 0) {
            char buf[4096];
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n > 0)
                out.append(buf, int(n));
        }
        return out;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
};
