#include "api/Address.h"

namespace vibrelle {

QString trimBaseAddress(const QString &address)
{
    return address.trimmed();
}

bool isLocalServiceAddress(const QString &trimmedBase)
{
    // The checks read the text as typed: a URL parser would lower-case the scheme and
    // normalise host spellings such as "127.1", which must be refused here.
    static const QString prefix = QStringLiteral("http://");
    if (!trimmedBase.startsWith(prefix)) {
        return false;
    }
    const QString rest = trimmedBase.mid(prefix.size());
    if (rest.contains(QLatin1Char('?')) || rest.contains(QLatin1Char('#'))) {
        return false;
    }
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    const QString authority = slash < 0 ? rest : rest.left(slash);
    const QString path = slash < 0 ? QString() : rest.mid(slash);
    if (!path.isEmpty() && path != QStringLiteral("/")) {
        return false;
    }
    if (authority.contains(QLatin1Char('@'))) {
        return false;
    }
    const qsizetype colon = authority.indexOf(QLatin1Char(':'));
    const QString host = colon < 0 ? authority : authority.left(colon);
    if (host != QStringLiteral("127.0.0.1")) {
        return false;
    }
    if (colon >= 0) {
        const QString port = authority.mid(colon + 1);
        if (port.size() > 5) {
            return false;
        }
        for (const QChar c : port) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
                return false;
            }
        }
        if (!port.isEmpty() && port.toInt() > 65535) {
            return false;
        }
    }
    const QUrl url(trimmedBase, QUrl::StrictMode);
    return url.isValid() && url.userInfo().isEmpty() && !url.hasQuery() && !url.hasFragment();
}

std::optional<QUrl> requestUrl(const QString &trimmedBase, const QString &path)
{
    if (!isLocalServiceAddress(trimmedBase)) {
        return std::nullopt;
    }
    QString base = trimmedBase;
    while (base.startsWith(QLatin1Char('/'))) {
        base.remove(0, 1);
    }
    while (base.endsWith(QLatin1Char('/'))) {
        base.chop(1);
    }
    const QUrl url(base + path, QUrl::StrictMode);
    if (!url.isValid() || url.host() != QStringLiteral("127.0.0.1")) {
        return std::nullopt;
    }
    return url;
}

} // namespace vibrelle
