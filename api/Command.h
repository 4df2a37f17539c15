#pragma once

#include <QByteArray>
#include <QString>

namespace vibrelle {

// The eleven commands of the local service's API, in wire order.
enum class Command { status, impulse, timed, gesture, controlled, pause, resume, heartbeat, update, sequence, stop };

QString commandPath(Command command);
// Only status goes without a body; a request without a body is a GET, any other a POST.
bool commandHasBody(Command command);
QByteArray methodForBody(bool hasBody);
// Commands that start an effect and therefore fix the effect's address.
bool commandStartsEffect(Command command);

} // namespace vibrelle
