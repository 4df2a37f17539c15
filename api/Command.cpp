#include "api/Command.h"

namespace vibrelle {

QString commandPath(Command command)
{
    switch (command) {
    case Command::status:
        return QStringLiteral("/v1/status");
    case Command::impulse:
        return QStringLiteral("/v1/impulses");
    case Command::timed:
    case Command::gesture:
    case Command::controlled:
        return QStringLiteral("/v1/resonance");
    case Command::pause:
        return QStringLiteral("/v1/resonance/pause");
    case Command::resume:
        return QStringLiteral("/v1/resonance/resume");
    case Command::heartbeat:
        return QStringLiteral("/v1/heartbeat");
    case Command::update:
        return QStringLiteral("/v1/resonance/update");
    case Command::sequence:
        return QStringLiteral("/v1/sequences");
    case Command::stop:
        return QStringLiteral("/v1/stop");
    }
    return {};
}

bool commandHasBody(Command command)
{
    return command != Command::status;
}

QByteArray methodForBody(bool hasBody)
{
    return hasBody ? QByteArrayLiteral("POST") : QByteArrayLiteral("GET");
}

bool commandStartsEffect(Command command)
{
    switch (command) {
    case Command::impulse:
    case Command::timed:
    case Command::gesture:
    case Command::controlled:
    case Command::sequence:
        return true;
    default:
        return false;
    }
}

} // namespace vibrelle
