#pragma once

// Reading the sim's sound back: WAV files and the clicks in them.

#include <QFile>
#include <QtEndian>

#include <cmath>
#include <vector>

namespace vibrelle::simtest {

// The samples of a mono 16-bit PCM WAV at 48 kHz, scaled to ±1; empty unless the header is
// complete and its sizes agree with the file's.
inline std::vector<float> readWav(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(bytes.constData() + at); };
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(bytes.constData() + at); };
    if (bytes.size() < 44 || !bytes.startsWith("RIFF") || bytes.mid(8, 8) != "WAVEfmt " ||
        bytes.mid(36, 4) != "data" || u32(4) != quint32(bytes.size() - 8) ||
        u32(40) != quint32(bytes.size() - 44) || u16(20) != 1 || u16(22) != 1 || u32(24) != 48000 ||
        u16(34) != 16)
        return {};
    std::vector<float> samples(size_t(bytes.size() - 44) / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = float(qFromLittleEndian<qint16>(bytes.constData() + 44 + 2 * i)) / 32767.0f;
    return samples;
}

// Where clicks start: samples at or above `threshold` with none that high in the millisecond before.
inline std::vector<qint64> onsets(const std::vector<float> &samples, float threshold, qint64 from = 0,
                                  qint64 to = -1) {
    std::vector<qint64> found;
    qint64 lastLoud = -1000;
    to = to < 0 ? qint64(samples.size()) : qMin<qint64>(to, qint64(samples.size()));
    for (qint64 i = qMax<qint64>(from, 0); i < to; ++i) {
        if (std::abs(samples[size_t(i)]) < threshold)
            continue;
        if (i - lastLoud > 48)
            found.push_back(i);
        lastLoud = i;
    }
    return found;
}

inline float peak(const std::vector<float> &samples, qint64 from, qint64 to) {
    float p = 0;
    for (qint64 i = qMax<qint64>(from, 0); i < qMin<qint64>(to, qint64(samples.size())); ++i)
        p = qMax(p, std::abs(samples[size_t(i)]));
    return p;
}

} // namespace vibrelle::simtest
