// e2e-window-layout: builds the tester's view as the application does (same size, and the same
// platform, display and fonts when run with the real tester's environment) without showing it,
// idle and connected, and prints the clickable part of every "tester.*" control per section:
// {"resonance/tester.controlled.start": [x, y, width, height], ...}; a slider row's slider as
// "tester.<row>.slider".

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
    TesterController controller(QStringLiteral("http://127.0.0.1:9"), std::move(transport),
                                std::make_shared<ManualTimeSource>());
    QCoreApplication::processEvents();
    for (int i = 0; i < 4 && fake->openCount() > 0; ++i)
        fake->replyOk(); // the start-up status request

    ui::TesterView view(&controller);
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.resize(TesterShell::initialSize(&view));
    view.show();
    QJsonObject controls;
    for (const auto &[section, name] : {std::pair{ui::Section::resonance, "resonance"},
                                        {ui::Section::impulses, "impulses"},
                                        {ui::Section::billiards, "billiards"}}) {
        view.viewState()->setSelectedSection(section);
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        for (QWidget *widget : view.findChildren<QWidget *>()) {
            QString control = widget->objectName(); // a slider row's slider: "tester.<row>.slider"
            if (control == QLatin1String("slider") && widget->parentWidget())
                control = widget->parentWidget()->objectName() + QStringLiteral(".slider");
            if (!control.startsWith(QLatin1String("tester.")) || !widget->isVisibleTo(&view))
                continue;
            QRect visible(widget->mapTo(&view, QPoint(0, 0)), widget->size());
            for (QWidget *ancestor = widget->parentWidget(); ancestor != &view;
                 ancestor = ancestor->parentWidget())
                visible &=
                    QRect(ancestor->mapTo(&view, QPoint(0, 0)), ancestor->size()); // the scroll area clips
            if (!visible.isEmpty())
                controls.insert(QString::fromLatin1(name) + u'/' + control,
                                QJsonArray{visible.x(), visible.y(), visible.width(), visible.height()});
        }
    }
    std::puts(QJsonDocument(controls).toJson(QJsonDocument::Compact).constData());
    return 0;
}
