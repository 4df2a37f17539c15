#pragma once

#include "SoundFeed.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QByteArray>

#include <memory>

class QAudioSink;
class QIODevice;

namespace vibrelle::sim {

// The sound through the desktop's default sound output. The stream opens at the first click,
// about 80 ms behind the sim's time, and closes when the feed rests, so that an idle sim keeps no
// stream (and no timer) open.
class DeviceSink : public SoundSink {
public:
    // The default output, or none with the reason when there is no sound device.
    static std::unique_ptr<DeviceSink> open(QString *error);
    ~DeviceSink() override;

    void play(const qint16 *samples, qint64 count) override;
    void silence(qint64 count) override;
    void rest() override { close(); }

private:
    DeviceSink(const QAudioDevice &device, const QAudioFormat &format);
    bool ensureOpen();
    void write(const char *bytes, qint64 size);
    void close();

    QAudioDevice m_device;
    QAudioFormat m_format;
    std::unique_ptr<QAudioSink> m_sink;
    QIODevice *m_io = nullptr;
    QByteArray m_waiting; // rendered, not yet taken by the device
    bool m_failed = false;
};

} // namespace vibrelle::sim
