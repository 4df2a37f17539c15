#pragma once

#include <QFile>
#include <QString>

namespace vibrelle::sim {

// A mono 16-bit PCM WAV file written as it grows. The header is brought up to date after every
// write, so the file is valid whenever the program stops, however it stops. Silence extends the
// file without writing it (zero bytes). A WAV file cannot pass 4 GiB: what comes later is dropped
// and full() turns true.
class WavWriter {
public:
    bool open(const QString &path, int sampleRate, QString *error);
    bool isOpen() const { return m_file.isOpen(); }
    void write(const qint16 *samples, qint64 count);
    void writeSilence(qint64 count);
    void close() { m_file.close(); }
    qint64 samples() const { return m_samples; }
    bool full() const { return m_full; }

    static constexpr qint64 headerBytes = 44;

private:
    qint64 room(qint64 count);
    void updateHeader();

    QFile m_file;
    qint64 m_samples = 0;
    bool m_full = false;
};

} // namespace vibrelle::sim
