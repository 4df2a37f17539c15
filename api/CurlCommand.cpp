#include "api/CurlCommand.h"

#include <QStringDecoder>

#include <algorithm>

namespace vibrelle {

namespace {

// The bytes as text, when they are UTF-8 without a NUL.
std::optional<QString> shellText(const QByteArray &bytes) {
    if (bytes.contains('\0')) {
        return std::nullopt;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        return std::nullopt;
    }
    return text;
}

} // namespace

QString shellQuoted(const QString &text) {
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

std::optional<QString> curlCommand(const HttpRequest &request) {
    const auto method = shellText(request.method);
    if (!method) {
        return std::nullopt;
    }
    QString command = QStringLiteral("curl --noproxy '*'");
    if (*method != QLatin1String("GET")) {
        const bool plain = !method->isEmpty() && std::all_of(method->begin(), method->end(), [](QChar c) {
            return c >= QLatin1Char('A') && c <= QLatin1Char('Z');
        });
        command += QStringLiteral(" -X ") + (plain ? *method : shellQuoted(*method));
    }
    command += QLatin1Char(' ') + shellQuoted(QString::fromLatin1(request.url.toEncoded()));
    for (const auto &[name, value] : request.headers) {
        // curl drops a header given as "Name:", and sends "Name;" as the header with no value.
        const auto header = shellText(value.isEmpty() ? name + ';' : name + ": " + value);
        if (!header) {
            return std::nullopt;
        }
        command += QStringLiteral(" -H ") + shellQuoted(*header);
    }
    if (request.body) {
        const auto body = shellText(*request.body);
        if (!body) {
            return std::nullopt;
        }
        command += QStringLiteral(" --data-raw ") + shellQuoted(*body);
    }
    return command;
}

} // namespace vibrelle
