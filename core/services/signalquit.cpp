#include "services/signalquit.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int s_pipe[2] = { -1, -1 };

// Only async-signal-safe work here: the event loop does the rest.
void handleSignal(int signalNumber)
{
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(s_pipe[0], &byte, 1);
}

} // namespace

void SignalQuit::install()
{
    if (s_pipe[0] != -1 || !QCoreApplication::instance())
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, s_pipe) != 0)
        return;
    ::fcntl(s_pipe[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(s_pipe[1], F_SETFD, FD_CLOEXEC);
    new SignalQuit(QCoreApplication::instance());

    struct sigaction action = {};
    action.sa_handler = handleSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

SignalQuit::SignalQuit(QObject *parent)
    : QObject(parent)
    , m_notifier(new QSocketNotifier(s_pipe[1], QSocketNotifier::Read, this))
{
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalQuit::onSignal);
}

void SignalQuit::onSignal()
{
    char byte = 0;
    [[maybe_unused]] const ssize_t got = ::read(s_pipe[1], &byte, 1);
    QCoreApplication::quit();
}
