#include "WavWriter.h"

#include <QtEndian>

#include <cstring>

namespace vibrelle::sim {

namespace {

constexpr qint64 maxDataBytes = 0xFFFFFFFFLL - WavWriter::headerBytes;

void put32(char *at, quint32 value) {
    qToLittleEndian(value, at);
}

} // namespace

bool WavWriter::open(const QString &path, int sampleRate, QString *error) {
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, m_file.errorString());
        return false;
    }
    char header[headerBytes] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    put32(header + 16, 16);                   // format chunk size
    qToLittleEndian<quint16>(1, header + 20); // PCM
    qToLittleEndian<quint16>(1, header + 22); // mono
    put32(header + 24, quint32(sampleRate));
    put32(header + 28, quint32(sampleRate * 2)); // bytes per second
    qToLittleEndian<quint16>(2, header + 32);    // bytes per frame
    qToLittleEndian<quint16>(16, header + 34);   // bits per sample
    std::memcpy(header + 36, "data", 4);
    if (m_file.write(header, headerBytes) != headerBytes) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, m_file.errorString());
        return false;
    }
    updateHeader();
    return true;
}

qint64 WavWriter::room(qint64 count) {
    const qint64 left = (maxDataBytes - m_samples * 2) / 2;
    if (count > left)
        m_full = true;
    return qMin(count, left);
}

void WavWriter::write(const qint16 *samples, qint64 count) {
    count = room(count);
    if (!m_file.isOpen() || count <= 0)
        return;
    QByteArray bytes(count * 2, Qt::Uninitialized);
    for (qint64 i = 0; i < count; ++i)
        qToLittleEndian(samples[i], bytes.data() + 2 * i);
    m_file.seek(headerBytes + m_samples * 2);
    m_file.write(bytes);
    m_samples += count;
    updateHeader();
}

void WavWriter::writeSilence(qint64 count) {
    count = room(count);
    if (!m_file.isOpen() || count <= 0)
        return;
    m_samples += count;
    m_file.resize(headerBytes + m_samples * 2);
    updateHeader();
}

void WavWriter::updateHeader() {
    char size[4];
    put32(size, quint32(36 + m_samples * 2));
    m_file.seek(4);
    m_file.write(size, 4);
    put32(size, quint32(m_samples * 2));
    m_file.seek(40);
    m_file.write(size, 4);
    m_file.flush();
}

} // namespace vibrelle::sim
