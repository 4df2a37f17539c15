// tester-snapshots [--font-size POINTS] OUTDIR: renders the tester's window offscreen, in named
// states, against a scripted service on virtual time, and writes one PNG per state. The
// application font is 10 pt, the size the window is designed at, unless --font-size says
// otherwise (as a desktop's font setting would); QT_SCALE_FACTOR scales the whole window.

#include "core/ManualTimeSource.h"
#include "core/TesterController.h"
#include "support/FakeTransport.h"
#include "ui/Glyphs.h"
#include "ui/TesterPalette.h"
#include "ui/TesterView.h"
#include "ui/ViewState.h"
#include "ui/workspaces/SnapshotStates.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QStyleFactory>
#include <QTextStream>

#include <functional>
#include <memory>

using vibrelle::ManualTimeSource;
using vibrelle::TesterController;
using vibrelle::testing::FakeTransport;
using vibrelle::ui::Section;
using vibrelle::ui::TesterView;

namespace {

// One window on its own controller, scripted service and clock.
struct Scene {
    std::shared_ptr<ManualTimeSource> clock = std::make_shared<ManualTimeSource>();
    FakeTransport *service = nullptr;
    std::unique_ptr<TesterController> controller;
    std::unique_ptr<TesterView> view;

    Scene() {
        auto transport = std::make_unique<FakeTransport>();
        service = transport.get();
        controller = std::make_unique<TesterController>(QString::fromLatin1(TesterController::defaultAddress),
                                                        std::move(transport), clock);
        advance(0.004);
        service->replyOk({{QStringLiteral("service"), QStringLiteral("vibrelle")}});
        view = std::make_unique<TesterView>(controller.get());
        view->resize(view->sizeHint());
        view->show();
    }

    void advance(double seconds) { clock->advance(seconds); }
    void settle() { QCoreApplication::processEvents(); }
};

QPalette darkPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2e));
    p.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xf0));
    p.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x21));
    p.setColor(QPalette::AlternateBase, QColor(0x33, 0x33, 0x37));
    p.setColor(QPalette::Text, QColor(0xee, 0xee, 0xf0));
    p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3e));
    p.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xf0));
    p.setColor(QPalette::ToolTipBase, QColor(0x3a, 0x3a, 0x3e));
    p.setColor(QPalette::ToolTipText, QColor(0xee, 0xee, 0xf0));
    p.setColor(QPalette::PlaceholderText, QColor(0x8e, 0x8e, 0x93));
    p.setColor(QPalette::Mid, QColor(0x4a, 0x4a, 0x4e));
    p.setColor(QPalette::Dark, QColor(0x1a, 0x1a, 0x1c));
    p.setColor(QPalette::Light, QColor(0x55, 0x55, 0x5a));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x85));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x85));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x85));
    return p;
}

// A log with successful and failed exchanges, newest first.
void fillLog(Scene &scene) {
    scene.controller->impulse(QStringLiteral("crisp"));
    scene.advance(0.003);
    scene.service->replyOk();
    scene.controller->verifyConnection();
    scene.service->fail(QStringLiteral("Connection refused"));
    scene.advance(0.5);
    scene.controller->stop();
    scene.advance(0.002);
    scene.service->replyOk();
    scene.controller->verifyConnection();
    scene.advance(0.002);
    scene.service->replyOk();
}

void startControlled(Scene &scene) {
    scene.view->viewState()->setResonancePage(vibrelle::ui::ResonancePage::controlled);
    scene.controller->controlledResonance();
    scene.advance(0.006);
    scene.service->replyOk({{QStringLiteral("leaseMs"), 1500}});
}

// Every glyph of the table at two sizes, with its name: a sheet for reviewing the icons.
QImage glyphSheet() {
    const QStringList names = vibrelle::ui::glyphNames();
    constexpr int cellWidth = 170;
    constexpr int cellHeight = 84;
    constexpr int columns = 4;
    const int rows = int((names.size() + columns - 1) / columns);
    QImage sheet(cellWidth * columns, cellHeight * rows, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(QApplication::palette().color(QPalette::Window));
    QPainter painter(&sheet);
    const QColor ink = QApplication::palette().color(QPalette::WindowText);
    for (int i = 0; i < names.size(); ++i) {
        const QRect cell((i % columns) * cellWidth, (i / columns) * cellHeight, cellWidth, cellHeight);
        vibrelle::ui::paintGlyph(painter, QRectF(cell.left() + 12, cell.top() + 10, 40, 40), names.at(i),
                                 ink);
        vibrelle::ui::paintGlyph(painter, QRectF(cell.left() + 64, cell.top() + 22, 16, 16), names.at(i),
                                 vibrelle::ui::TesterPalette::violet());
        painter.setPen(ink);
        painter.drawText(cell.adjusted(12, 56, -4, 0), Qt::AlignLeft | Qt::AlignTop, names.at(i));
    }
    return sheet;
}

} // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(VIBRELLE_VERSION));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QPalette lightPalette = QApplication::palette();

    QTextStream err(stderr);
    QStringList arguments = QApplication::arguments().mid(1);
    double fontPoints = 10;
    if (arguments.size() == 3 && arguments.first() == QLatin1String("--font-size")) {
        bool ok = false;
        fontPoints = arguments.at(1).toDouble(&ok);
        arguments = arguments.mid(2);
        if (!ok || fontPoints < 4 || fontPoints > 72) {
            arguments.clear();
        }
    }
    if (arguments.size() != 1) {
        err << "usage: tester-snapshots [--font-size POINTS] OUTDIR\n";
        return 2;
    }
    QFont applicationFont = QApplication::font();
    applicationFont.setPointSizeF(fontPoints);
    QApplication::setFont(applicationFont);
    const QDir out(arguments.first());
    if (!QDir().mkpath(out.path())) {
        err << "cannot create " << out.path() << "\n";
        return 1;
    }

    struct State {
        QString name;
        bool dark;
        std::function<void(Scene &)> arrange;
    };
    const std::vector<State> states{
        {QStringLiteral("resonance-idle"), false, [](Scene &) {}},
        {QStringLiteral("impulses-idle"), false,
         [](Scene &s) { s.view->viewState()->setSelectedSection(Section::impulses); }},
        {QStringLiteral("billiards-idle"), false,
         [](Scene &s) { s.view->viewState()->setSelectedSection(Section::billiards); }},
        {QStringLiteral("request-in-flight"), false,
         [](Scene &s) {
             s.view->viewState()->setSelectedSection(Section::impulses);
             s.controller->verifyConnection();
         }},
        {QStringLiteral("resonance-running"), false, [](Scene &s) { startControlled(s); }},
        {QStringLiteral("resonance-paused"), false,
         [](Scene &s) {
             startControlled(s);
             s.controller->togglePause();
             s.advance(0.1);
             s.service->replyOk({{QStringLiteral("paused"), true}});
         }},
        {QStringLiteral("log-open"), false,
         [](Scene &s) {
             fillLog(s);
             s.view->viewState()->setShowingLog(true);
         }},
        {QStringLiteral("overview"), false,
         [](Scene &s) {
             fillLog(s);
             startControlled(s);
             s.view->viewState()->setShowingLog(true);
         }},
        {QStringLiteral("minimum-size"), false,
         [](Scene &s) {
             fillLog(s);
             s.view->viewState()->setSelectedSection(Section::billiards);
             s.view->viewState()->setShowingLog(true);
             s.view->resize(790, 650);
         }},
        {QStringLiteral("dark-resonance-running"), true, [](Scene &s) { startControlled(s); }},
        {QStringLiteral("dark-log-open"), true,
         [](Scene &s) {
             fillLog(s);
             s.view->viewState()->setShowingLog(true);
         }},
    };

    const auto write = [&err, &out](Scene &scene, const QString &name) {
        scene.settle();
        const QString file = out.filePath(name + QStringLiteral(".png"));
        if (!scene.view->grab().save(file)) {
            err << "cannot write " << file << "\n";
            return false;
        }
        QTextStream(stdout) << file << "\n";
        return true;
    };

    for (const State &state : states) {
        QApplication::setPalette(state.dark ? darkPalette() : lightPalette);
        Scene scene;
        state.arrange(scene);
        if (!write(scene, state.name)) {
            return 1;
        }
    }

    // The section workspaces at rest and in use.
    for (const vibrelle::ui::WorkspaceSnapshotState &state : vibrelle::ui::workspaceSnapshotStates()) {
        QApplication::setPalette(state.dark ? darkPalette() : lightPalette);
        Scene scene;
        vibrelle::ui::WorkspaceSnapshotScene workspaceScene;
        workspaceScene.controller = scene.controller.get();
        workspaceScene.viewState = scene.view->viewState();
        workspaceScene.window = scene.view.get();
        workspaceScene.replyOk = [&scene](const QJsonObject &extra) { scene.service->replyOk(extra); };
        workspaceScene.advance = [&scene](double seconds) { scene.advance(seconds); };
        workspaceScene.openExchanges = [&scene] { return scene.service->openCount(); };
        state.arrange(workspaceScene);
        if (!write(scene, state.name)) {
            return 1;
        }
    }

    QApplication::setPalette(lightPalette);
    const QString sheetFile = out.filePath(QStringLiteral("glyphs.png"));
    if (!glyphSheet().save(sheetFile)) {
        err << "cannot write " << sheetFile << "\n";
        return 1;
    }
    QTextStream(stdout) << sheetFile << "\n";
    return 0;
}
