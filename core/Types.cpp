#include "core/Types.h"

#include <QTextBoundaryFinder>

namespace vibrelle {

QString holdBehaviorLabel(HoldBehavior behavior)
{
    switch (behavior) {
    case HoldBehavior::maintain:
        return QStringLiteral("Mantieni tensione");
    case HoldBehavior::pause:
        return QStringLiteral("Pausa da fermo");
    }
    return {};
}

std::optional<HoldBehavior> holdBehaviorFromLabel(const QString &label)
{
    for (HoldBehavior behavior : allHoldBehaviors()) {
        if (holdBehaviorLabel(behavior) == label) {
            return behavior;
        }
    }
    return std::nullopt;
}

QString truncateGraphemes(const QString &text, int maxCharacters)
{
    // Fast path: fewer UTF-16 units than the limit means fewer graphemes too.
    if (text.size() <= maxCharacters) {
        return text;
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    qsizetype position = 0;
    while (count < maxCharacters) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0) {
            return text;
        }
        position = next;
        ++count;
    }
    return text.left(position);
}

} // namespace vibrelle
