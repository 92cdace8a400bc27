// SPDX-License-Identifier: GPL-3.0-or-later
// Shared helpers of the window tests: a pseudo-terminal playing the gateway
// and a catcher for the window's modal message boxes.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>

// The gateway's end of a pseudo-terminal pair; the window opens slavePath.
class PtyPeer {
public:
    PtyPeer()
    {
        int slave = -1;
        char name[256] = {};
        if (openpty(&m_master, &slave, name, nullptr, nullptr) == 0) {
            termios t{};
            tcgetattr(slave, &t);
            cfmakeraw(&t);
            tcsetattr(slave, TCSANOW, &t);
            m_path = name;
            // Keep a slave descriptor so the master never sees a hang-up
            // while the window has the port closed.
            m_slaveKeep = slave;
        }
    }
    ~PtyPeer()
    {
        if (m_master >= 0)
            ::close(m_master);
        if (m_slaveKeep >= 0)
            ::close(m_slaveKeep);
    }
    PtyPeer(const PtyPeer &) = delete;
    PtyPeer &operator=(const PtyPeer &) = delete;

    bool ok() const { return m_master >= 0; }
    QString slavePath() const { return QString::fromStdString(m_path); }

    void write(const std::string &bytes)
    {
        size_t off = 0;
        while (off < bytes.size()) {
            const ssize_t n = ::write(m_master, bytes.data() + off, bytes.size() - off);
            if (n <= 0)
                return;
            off += size_t(n);
        }
    }

    // Reads what arrives until the line is quiet for quietMs (or maxMs pass),
    // keeping the GUI thread's events running meanwhile.
    std::string readQuiet(int quietMs = 150, int maxMs = 3000)
    {
        std::string out;
        QElapsedTimer total;
        total.start();
        QElapsedTimer quiet;
        quiet.start();
        while (total.elapsed() < maxMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, 5) > 0 && (p.revents & POLLIN)) {
                char buf[4096];
                const ssize_t n = ::read(m_master, buf, sizeof buf);
                if (n > 0) {
                    out.append(buf, size_t(n));
                    quiet.restart();
                    continue;
                }
            }
            if (!out.empty() && quiet.elapsed() >= quietMs)
                break;
            if (out.empty() && quiet.elapsed() >= quietMs * 2 && total.elapsed() >= quietMs * 2)
                break;
        }
        return out;
    }

private:
    int m_master = -1;
    int m_slaveKeep = -1;
    std::string m_path;
};

// Closes every modal message box the window opens and keeps its text.
class MessageCatcher {
public:
    MessageCatcher()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                m_texts << box->text();
                box->accept();
            }
        });
        m_timer.start();
    }
    const QStringList &texts() const { return m_texts; }
    void clear() { m_texts.clear(); }

private:
    QTimer m_timer;
    QStringList m_texts;
};

inline std::string bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s += char(v);
    return s;
}
