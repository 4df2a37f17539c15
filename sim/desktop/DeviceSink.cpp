#include "DeviceSink.h"

#include "SoundRenderer.h"

#include <QAudioSink>
#include <QMediaDevices>

#include <algorithm>
#include <cstdio>

namespace vibrelle::sim {

namespace {

constexpr qint64 leadSamples = SoundRenderer::sampleRate * 80 / 1000;
// What a device that takes its sound in large bursts may leave waiting; older sound is dropped.
constexpr qint64 maxWaitingBytes = SoundRenderer::sampleRate * 2;

} // namespace

std::unique_ptr<DeviceSink> DeviceSink::open(QString *error) {
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        *error = QStringLiteral("no sound output device");
        return nullptr;
    }
    QAudioFormat format;
    format.setSampleRate(SoundRenderer::sampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format)) {
        *error = QStringLiteral("the sound device \"%1\" does not take 16-bit mono sound at 48 kHz")
                     .arg(device.description());
        return nullptr;
    }
    return std::unique_ptr<DeviceSink>(new DeviceSink(device, format));
}

DeviceSink::DeviceSink(const QAudioDevice &device, const QAudioFormat &format)
    : m_device(device)
    , m_format(format) {}

DeviceSink::~DeviceSink() {
    close();
}

bool DeviceSink::ensureOpen() {
    if (m_io || m_failed)
        return m_io != nullptr;
    m_sink = std::make_unique<QAudioSink>(m_device, m_format);
    m_sink->setBufferSize(int(m_format.bytesForDuration(250000)));
    m_io = m_sink->start();
    if (!m_io || m_sink->error() != QAudio::NoError) {
        std::fprintf(
            stderr,
            "vibrelle-sim: --audio: cannot open the sound device \"%s\"; the sim goes on without sound\n",
            qPrintable(m_device.description()));
        m_failed = true;
        close();
        return false;
    }
    const QByteArray lead(leadSamples * 2, '\0'); // room for the feed's ticks
    write(lead.constData(), lead.size());
    return true;
}

void DeviceSink::write(const char *bytes, qint64 size) {
    m_waiting.append(bytes, size);
    const qint64 written =
        m_io->write(m_waiting.constData(), qMin<qint64>(m_waiting.size(), m_sink->bytesFree()));
    m_waiting.remove(0, std::max<qint64>({0, written, m_waiting.size() - maxWaitingBytes}));
}

void DeviceSink::play(const qint16 *samples, qint64 count) {
    if (!ensureOpen())
        return;
    write(reinterpret_cast<const char *>(samples), count * 2);
}

void DeviceSink::silence(qint64 count) {
    if (!m_io)
        return;
    const QByteArray zeros(qMin(count, leadSamples) * 2, '\0'); // a long gap: the stream ran dry anyway
    write(zeros.constData(), zeros.size());
}

void DeviceSink::close() {
    if (m_sink)
        m_sink->stop();
    m_sink.reset();
    m_io = nullptr;
    m_waiting.clear();
}

} // namespace vibrelle::sim
