#pragma once

#include "api/HttpTransport.h"

#include <QString>

#include <optional>

namespace vibrelle {

// One POSIX shell command that makes `request` again with curl: `-X` with the method unless it
// is a GET, the URL, every header in the order sent, and the body's exact bytes (a request that
// went out without a body goes out without one again). Each word is single-quoted, a quote inside
// written as '\''. The request goes straight to its address, whatever proxy the environment names.
// None when the request cannot travel as shell text: a NUL byte, or bytes that are not UTF-8.
std::optional<QString> curlCommand(const HttpRequest &request);

// `text` as one single-quoted POSIX shell word.
QString shellQuoted(const QString &text);

} // namespace vibrelle
