#pragma once

#include "PlayTrack.h"

#include <QJsonArray>
#include <QTimer>
#include <QWidget>

#include <functional>

class QLabel;

namespace vibrelle::sim {

class LeaseBar;

// The window of `vibrelle-sim --view`: the simulated trackpad live. It only reads the track
// (and the faults in force); it never changes what the service does. It repaints while
// something plays and while the strip still shows something; otherwise it has no timer running.
class SimView : public QWidget {
    Q_OBJECT

public:
    static constexpr int frameMs = 40; // 25 frames a second

    struct Source {
        PlayTrack *track = nullptr;
        std::function<double()> nowMs;      // the timeline's clock
        std::function<QJsonArray()> faults; // the faults in force
        quint16 port = 0;
        int latencyMs = 0; // --latency-ms
    };

    explicit SimView(Source source, QWidget *parent = nullptr);

    // Call after every timeline event has reached the track.
    void follow(const QString &event, const QJsonObject &fields);
    bool animating() const { return m_frames.isActive(); }
    // What the lease bar shows: the part of it filled, and the text under it.
    std::pair<double, QString> leaseReading() const;

Q_SIGNALS:
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void refreshTexts();
    void refreshFaults();
    void tick();

    Source m_source;
    QTimer m_frames;
    QWidget *m_strip = nullptr;
    LeaseBar *m_lease = nullptr;
    QLabel *m_leaseText = nullptr;
    QLabel *m_effect = nullptr;
    QLabel *m_state = nullptr;
    QLabel *m_client = nullptr;
    static constexpr int paramRows = 4;
    QLabel *m_paramNames[paramRows] = {};
    QLabel *m_paramValues[paramRows] = {};
    QLabel *m_faults = nullptr;
};

// "Secco", "Naturale", "Morbido" for a style on the wire.
QString styleTitle(const QString &style);

} // namespace vibrelle::sim
