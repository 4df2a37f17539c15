// Any bytes from the service decode to a reply without crashing, and the reply keeps
// the invariants the request channel relies on.
#include "api/ServiceReply.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) {
        return 0;
    }
    // The first two bytes pick the status code, the rest is the body.
    const int status = (data[0] << 8 | data[1]) % 600;
    const QByteArray body(reinterpret_cast<const char *>(data + 2), static_cast<qsizetype>(size - 2));
    const vibrelle::ServiceReply reply = vibrelle::decodeReply(status, body);
    if (reply.ok && (status < 200 || status > 299 || !reply.object)) {
        std::abort();
    }
    if (reply.message.isEmpty() && !(reply.object && (reply.object->value(QStringLiteral("message")).isString() ||
                                                     reply.object->value(QStringLiteral("error")).isString()))) {
        std::abort();
    }
    if (reply.object) {
        (void)vibrelle::statusSummary(*reply.object);
    }
    return 0;
}
