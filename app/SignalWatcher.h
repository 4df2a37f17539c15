#pragma once

#include <QObject>

class QSocketNotifier;

namespace vibrelle {

// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal on the main thread (self-pipe:
// the handler only writes the signal number into a pipe that a socket notifier reads).
// One instance per process.
class SignalWatcher final : public QObject {
    Q_OBJECT
public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace vibrelle
