#include "ui/ViewState.h"

namespace vibrelle::ui {

QString sectionTitle(Section section) {
    switch (section) {
    case Section::resonance:
        return QStringLiteral("Risonanza");
    case Section::impulses:
        return QStringLiteral("Impulsi");
    case Section::billiards:
        return QStringLiteral("Biliardo");
    }
    return {};
}

QString sectionObjectName(Section section) {
    switch (section) {
    case Section::resonance:
        return QStringLiteral("tester.section.resonance");
    case Section::impulses:
        return QStringLiteral("tester.section.impulses");
    case Section::billiards:
        return QStringLiteral("tester.section.billiards");
    }
    return {};
}

QString resonancePageTitle(ResonancePage page) {
    switch (page) {
    case ResonancePage::controlled:
        return QStringLiteral("Controllata");
    case ResonancePage::gesture:
        return QStringLiteral("Gesto");
    case ResonancePage::timed:
        return QStringLiteral("Temporizzata");
    }
    return {};
}

void ViewState::setSelectedSection(Section section) {
    if (m_selectedSection != section) {
        m_selectedSection = section;
        Q_EMIT changed();
    }
}

void ViewState::setResonancePage(ResonancePage page) {
    if (m_resonancePage != page) {
        m_resonancePage = page;
        Q_EMIT changed();
    }
}

void ViewState::setShowingLog(bool showing) {
    if (m_showingLog != showing) {
        m_showingLog = showing;
        Q_EMIT changed();
    }
}

void ViewState::setCueInteractionActive(bool active) {
    if (m_cueInteractionActive != active) {
        m_cueInteractionActive = active;
        Q_EMIT changed();
    }
}

} // namespace vibrelle::ui
