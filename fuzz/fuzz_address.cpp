// Whatever the user types, an accepted base address only ever yields a request URL
// on the loopback host over plain http.
#include "api/Address.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString typed = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QString trimmed = vibrelle::trimBaseAddress(typed);
    const bool accepted = vibrelle::isLocalServiceAddress(trimmed);
    const auto url = vibrelle::requestUrl(trimmed, QStringLiteral("/v1/status"));
    if (url) {
        if (!accepted || url->scheme() != QStringLiteral("http") || url->host() != QStringLiteral("127.0.0.1") ||
            url->path() != QStringLiteral("/v1/status") || url->hasQuery() || url->hasFragment() ||
            !url->userInfo().isEmpty()) {
            std::abort();
        }
    }
    return 0;
}
