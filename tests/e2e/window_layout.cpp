// e2e-window-layout: builds the tester's window exactly as the application does (same
// view, same 840 x 740 size, same platform and display when run with the environment
// the real tester gets) without putting it on screen, and prints where every named
// control is, per section, as JSON: {"resonance": {"tester.controlled.start":
// [x, y, width, height], ...}, "impulses": {...}, "billiards": {...}} in window
// coordinates (the part of each control that is not clipped by the scroll area). The
// end-to-end tests click the real window at these places.
//
// The controller behind it runs on virtual time with a scripted transport whose
// start-up status request is answered, so the window is in the idle, connected state
// the tests drive the real one into.

#include "app/TesterShell.h"
#include "core/ManualTimeSource.h"
#include "support/FakeTransport.h"
#include "ui/TesterView.h"
#include "ui/ViewState.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

using namespace vibrelle;

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    auto transport = std::make_unique<testing::FakeTransport>();
    testing::FakeTransport *fake = transport.get();
    auto clock = std::make_shared<ManualTimeSource>();
    TesterController controller(QStringLiteral("http://127.0.0.1:9"), std::move(transport), clock);
    QCoreApplication::processEvents();
    for (int i = 0; i < 4 && fake->openCount() > 0; ++i) {
        fake->replyOk();
    }

    ui::TesterView view(&controller);
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.resize(TesterShell::defaultWidth, TesterShell::defaultHeight);
    view.show();

    QJsonObject sections;
    const std::pair<ui::Section, const char *> all[] = {
        {ui::Section::resonance, "resonance"}, {ui::Section::impulses, "impulses"}, {ui::Section::billiards, "billiards"}};
    for (const auto &[section, name] : all) {
        view.viewState()->setSelectedSection(section);
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
        QJsonObject controls;
        const auto widgets = view.findChildren<QWidget *>();
        for (QWidget *widget : widgets) {
            if (!widget->objectName().startsWith(QLatin1String("tester.")) || !widget->isVisibleTo(&view)) {
                continue;
            }
            // The part that can be clicked: clipped by every ancestor (the scroll area's viewport).
            QRect visible(widget->mapTo(&view, QPoint(0, 0)), widget->size());
            for (QWidget *ancestor = widget->parentWidget(); ancestor && ancestor != &view;
                 ancestor = ancestor->parentWidget()) {
                visible &= QRect(ancestor->mapTo(&view, QPoint(0, 0)), ancestor->size());
            }
            if (visible.isEmpty()) {
                continue;
            }
            controls.insert(widget->objectName(),
                            QJsonArray{visible.x(), visible.y(), visible.width(), visible.height()});
        }
        sections.insert(QLatin1String(name), controls);
    }
    sections.insert(QStringLiteral("window"), QJsonArray{view.width(), view.height()});
    std::fputs(QJsonDocument(sections).toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputc('\n', stdout);
    return 0;
}
