#pragma once

// Black-box helpers for the simulated service: start the real vibrelle-sim binary on a free port,
// read its JSON timeline, and talk raw HTTP/1.1 to it over one TCP connection.

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QStringList>
#include <QTcpSocket>

#include <functional>
#include <memory>
#include <optional>

namespace vibrelle::simtest {

using Headers = QList<QPair<QByteArray, QByteArray>>;

// Processes events until `done` holds or `timeoutMs` has passed; returns whether it holds.
bool waitFor(const std::function<bool()> &done, int timeoutMs);

QString simBinary();

// The vibrelle-sim process, started with --port 0 --json plus the given arguments.
class SimProcess {
public:
    explicit SimProcess(const QStringList &arguments = {});
    ~SimProcess();

    bool isListening() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    QProcess &process() { return m_process; }

    // Every timeline event printed so far.
    const QList<QJsonObject> &events();
    // Waits for the first event at index >= from that satisfies `match`.
    std::optional<QJsonObject> waitForEvent(const std::function<bool(const QJsonObject &)> &match,
                                            int timeoutMs = 3000, qsizetype from = 0);
    QList<QByteArray> nonJsonLines() const { return m_otherLines; }

private:
    void drain();

    QProcess m_process;
    QByteArray m_partial;
    quint16 m_port = 0;
    QList<QJsonObject> m_events;
    QList<QByteArray> m_otherLines;
};

struct Reply {
    bool headComplete = false; // status line and headers arrived
    bool complete = false;     // ... and the whole body
    int status = 0;
    Headers headers; // names in lower case
    QByteArray body;

    QByteArray header(const QByteArray &lowerCaseName) const;
    QJsonObject json() const;
    bool isJsonObject() const;
};

// One client connection to the sim.
class Client {
public:
    explicit Client(quint16 port);

    bool isConnected() const;
    // The headers the tester sends; Content-Type only when withBody.
    static Headers testerHeaders(bool withBody);

    void write(const QByteArray &bytes);
    Reply request(const QByteArray &method, const QByteArray &path, const QByteArray &body,
                  const Headers &headers, int timeoutMs = 3000);
    Reply get(const QByteArray &path, int timeoutMs = 3000);
    Reply post(const QByteArray &path, const QByteArray &body, int timeoutMs = 3000);
    Reply post(const QByteArray &path, const QJsonObject &body, int timeoutMs = 3000);
    // Reads the next reply on the connection (waiting at most timeoutMs for it to complete).
    Reply readReply(int timeoutMs = 3000);
    bool waitForDisconnected(int timeoutMs = 3000);
    QByteArray unreadBytes() const { return m_buffer; }
    void close();

private:
    std::unique_ptr<QTcpSocket> m_socket;
    QByteArray m_buffer;
};

// The state reported by GET /v1/status, or an empty string on failure.
QString stateOf(Client &client);
QJsonObject statsOf(Client &client);
// Sets faults through POST /_sim/faults; returns the reply status.
int setFaults(Client &client, const QByteArray &json);

QJsonObject controlledBody(double intensity = 0.5, double pulseRateHz = 30, double sharpness = 0.5,
                           double transitionMs = 40);
QJsonObject gestureBody();
QJsonObject timedBody(int durationMs);

} // namespace vibrelle::simtest
