#pragma once

#include "api/HttpTransport.h"
#include "api/Rounding.h" // roundHalfAwayFromZero, for the controller and the window

#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

namespace vibrelle {

// The resonance that is starting or running; none (std::nullopt) when idle.
enum class ResonanceMode { gesture, timed, controlled };

// What the billiards cue does while the finger rests on the pad.
enum class HoldBehavior { maintain, pause };

inline const QList<HoldBehavior> &allHoldBehaviors()
{
    static const QList<HoldBehavior> all{HoldBehavior::maintain, HoldBehavior::pause};
    return all;
}

// The display label doubles as the raw value.
QString holdBehaviorLabel(HoldBehavior behavior);
std::optional<HoldBehavior> holdBehaviorFromLabel(const QString &label);

struct LogEntry {
    QUuid id;
    QString text;
    bool failed = false;
    // The request as it was handed to the transport, for the lines of an exchange; kept in
    // memory only, and gone with the entry.
    std::optional<HttpRequest> request;

    friend bool operator==(const LogEntry &, const LogEntry &) = default;
};

// Cuts a text to its first `maxCharacters` user-perceived characters (grapheme clusters).
QString truncateGraphemes(const QString &text, int maxCharacters);

} // namespace vibrelle
