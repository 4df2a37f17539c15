#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace vibrelle {

// The base address with white space and line breaks trimmed from both ends.
QString trimBaseAddress(const QString &address);

// True when the (trimmed) base address points at the loopback service: scheme exactly
// "http", host exactly "127.0.0.1", any port or none, no user, password, query or
// fragment (not even empty ones), path empty or "/".
bool isLocalServiceAddress(const QString &trimmedBase);

// The request URL: the base without leading and trailing "/" followed by the path;
// none when the base is refused or the result is not a valid URL.
std::optional<QUrl> requestUrl(const QString &trimmedBase, const QString &path);

} // namespace vibrelle
