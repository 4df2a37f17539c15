// The window: sidebar, connection bar, heading badge, request log, footer and the
// foreground handling, driven through its widgets.

#include "api/CurlCommand.h"
#include "support/ControllerFixture.h"
#include "support/NamedWidget.h"
#include "ui/BuildingBlocks.h"
#include "ui/IconLabel.h"
#include "ui/SectionRow.h"
#include "ui/TesterPalette.h"
#include "ui/TesterView.h"
#include "ui/pads/GesturePad.h"

#include <QAccessible>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QtTest>

#include <QScopeGuard>

#include <cmath>
#include <functional>

using vibrelle::testing::ControllerFixture;
using namespace vibrelle;
using namespace vibrelle::ui;

namespace {

// A window on a controller on virtual time; the view re-renders on the next turn of the event loop.
struct Window {
    ControllerFixture f;
    TesterView view;

    explicit Window(bool answerStatus = true)
        : f(QStringLiteral("http://127.0.0.1:59723"), answerStatus)
        , view(f.controller.get()) {
        view.show();
    }
    template <typename T = QWidget> T *find(const QString &name) {
        return vibrelle::testing::namedWidget<T>(view, name);
    }
    QAccessibleInterface *accessible(const QString &name) {
        return QAccessible::queryAccessibleInterface(find(name));
    }
    void click(const QString &name) {
        QTest::mouseClick(find(name), Qt::LeftButton);
        QCoreApplication::processEvents();
    }
    void reply(const QJsonObject &extra = {}) {
        f.transport->replyOk(extra);
        QCoreApplication::processEvents();
    }
    // Enabled (1) or not: the section rows (resonance, impulses, billiards), "Verifica", the
    // address field; shown or not: the hint. Then the connection word and the badge.
    QString summary() {
        QString s;
        for (const char *name : {"tester.section.resonance", "tester.section.impulses",
                                 "tester.section.billiards", "tester.verify", "tester.address"}) {
            s += find(name)->isEnabled() ? '1' : '0';
        }
        s += find("tester.section.hint")->isVisibleTo(&view) ? '1' : '0';
        auto *badge = find<IconLabel>("tester.badge");
        return s + ' ' + find<QLabel>("tester.connection.state")->text() + ' ' +
               (badge->isHidden() ? QStringLiteral("-") : badge->text() + '/' + badge->symbolName());
    }
};

} // namespace

class TesterViewTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // While a request or an effect is out, only the current section stays reachable; the
    // connection bar edits the controller's address, verifies it and reports back.
    void windowFollowsTheController() {
        Window w;
        auto *address = w.find<QLineEdit>("tester.address");
        auto *status = w.find<QLabel>("tester.status");
        QCOMPARE(address->text(), "http://127.0.0.1:59723");
        QCOMPARE(w.summary(), "111110 Connesso -");
        w.click("tester.section.impulses");
        QCOMPARE(w.view.viewState()->selectedSection(), Section::impulses);
        QCOMPARE(w.find<QLabel>("tester.section.title")->text(), "Impulsi");
        QVERIFY(w.find<SectionRow>("tester.section.impulses")->isChecked());
        QVERIFY(!w.find<SectionRow>("tester.section.resonance")->isChecked());
        auto *billiards = w.find<SectionRow>("tester.section.billiards");
        billiards->setFocus(Qt::TabFocusReason);
        QTest::keyClick(billiards, Qt::Key_Space); // Space on a focused row selects it
        QCOMPARE(w.view.viewState()->selectedSection(), Section::billiards);
        QVERIFY(w.f.transport->sent().isEmpty());
        QCOMPARE(w.find<QLabel>("tester.version")->text(), "Versione di sviluppo");
        QCOMPARE(TesterView::versionLine("1.4.2"), "Versione 1.4.2");

        address->selectAll();
        QTest::keyClicks(address, "http://127.0.0.1:8080");
        QCOMPARE(w.f.c().address(), "http://127.0.0.1:8080");
        // Text put there by assistive technology is the address used, as typed text is.
        QAccessibleEditableTextInterface *editable = w.accessible("tester.address")->editableTextInterface();
        editable->replaceText(0, int(address->text().size()), "http://127.0.0.1:8181");
        QCOMPARE(w.f.c().address(), "http://127.0.0.1:8181");
        w.click("tester.verify");
        QCOMPARE(w.f.transport->last().request.url.toString(), "http://127.0.0.1:8181/v1/status");
        QCOMPARE(w.summary(), "001001 Connesso -");
        QCOMPARE(w.find<QLabel>("tester.section.hint")->text(), "Ferma l'effetto per cambiare prova.");
        w.click("tester.section.resonance");
        QCOMPARE(w.view.viewState()->selectedSection(), Section::billiards);
        const QString before = status->text();
        w.f.transport->fail();
        QCoreApplication::processEvents();
        QCOMPARE(w.summary(), "111110 Da collegare -");
        QVERIFY(w.f.c().status() != before);
        QCOMPARE(status->text(), w.f.c().status());
        QCOMPARE(QAccessible::queryAccessibleInterface(status)->text(QAccessible::Name), w.f.c().status());
        w.f.c().setAddress("http://127.0.0.1:59723");

        // The badge shows any resonance, in whichever section is shown. The disabled address field
        // takes no text from anywhere.
        w.f.c().controlledResonance();
        w.reply();
        QCOMPARE(w.summary(), "001001 Connesso In corso/waveform");
        editable->replaceText(0, 5, "https");
        QCOMPARE(address->text(), "http://127.0.0.1:59723");
        QCOMPARE(w.f.c().address(), "http://127.0.0.1:59723");
        w.f.c().togglePause();
        w.f.advance(0.1);
        w.reply({{"paused", true}});
        QCOMPARE(w.summary(), "001001 Connesso In pausa/pause.fill");
        w.f.c().stop();
        w.reply();
        QCOMPARE(w.summary(), "111110 Connesso -");
        w.f.c().timedResonance();
        QCoreApplication::processEvents();
        QCOMPARE(w.summary(), "001001 Connesso In corso/waveform");
    }

    void logShowsPlaceholderThenEntriesNewestFirst() {
        Window w(false); // the status request is still out: the log is empty
        auto *toggle = w.find("tester.log.toggle");
        QVERIFY(w.find("tester.log")->isHidden());
        QCOMPARE(toggle->accessibleName(), "Mostra registro richieste");
        w.click("tester.log.toggle");
        QVERIFY(!w.find("tester.log")->isHidden());
        QCOMPARE(toggle->accessibleName(), "Nascondi registro richieste");
        auto *placeholder = w.find<QLabel>("tester.log.placeholder");
        QVERIFY(placeholder->isVisibleTo(&w.view));
        QCOMPARE(placeholder->text(),
                 "Nessuna richiesta. Il tester non interroga il servizio quando è inattivo.");

        w.f.transport->fail(); // the status request
        w.f.c().verifyConnection();
        w.reply();
        QVERIFY(!placeholder->isVisibleTo(&w.view));
        QList<QLabel *> lines = w.view.findChildren<QLabel *>("tester.log.entry");
        lines.removeIf([&](QLabel *line) { return !line->isVisibleTo(&w.view); });
        QCOMPARE(lines.size(), 2);
        const auto &entries = w.f.c().entries();
        QVERIFY(!entries.at(0).failed && entries.at(1).failed);
        QCOMPARE(lines.at(0)->text(), entries.at(0).text);
        QCOMPARE(lines.at(1)->text(), entries.at(1).text);
        QVERIFY(lines.at(0)->y() < lines.at(1)->y());
        // The failed line is red, the other not; the lines can be copied.
        const QColor red = TesterPalette::failure(w.view.palette());
        QCOMPARE(lines.at(1)->palette().color(QPalette::WindowText), red);
        QVERIFY(lines.at(0)->palette().color(QPalette::WindowText) != red);
        QVERIFY(lines.at(0)->textInteractionFlags() & Qt::TextSelectableByMouse);
        w.click("tester.log.toggle");
        QVERIFY(w.find("tester.log")->isHidden());
    }

    // Tab reaches every log line; its context menu opens from the Menu key, Shift+F10 or a right
    // click, and copies the line or, for a request, a curl command that repeats it.
    void logLinesCopyFromTheKeyboard() {
        Window w;
        w.click("tester.log.toggle");
        w.f.c().impulse("crisp");
        w.f.transport->fail(); // the automatic stop follows
        w.reply();
        w.f.c().addLog(QStringLiteral("Stop automatico: chiusura del tester"), false);
        QCoreApplication::processEvents();
        QList<QLabel *> lines = w.view.findChildren<QLabel *>("tester.log.entry");
        lines.removeIf([&](QLabel *line) { return !line->isVisibleTo(&w.view); });
        // Backwards from the footer's first control, as the lines come right before it.
        w.find("tester.log.toggle")->setFocus(Qt::TabFocusReason);
        QList<QLabel *> reached;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
            reached.prepend(qobject_cast<QLabel *>(QApplication::focusWidget()));
        }
        QCOMPARE(reached, lines);

        // The note, the stop, the failed impulse: what each menu offers, and what its first item copies.
        const auto copied = [](const std::function<void()> &open) -> QString {
            open();
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu) {
                return QStringLiteral("no menu");
            }
            QStringList texts;
            for (const QAction *action : menu->actions()) {
                texts.append(action->text());
            }
            QTest::keyClick(menu, Qt::Key_Down);
            QTest::keyClick(menu, Qt::Key_Return);
            return texts.join('|') + " > " + QGuiApplication::clipboard()->text();
        };
        const auto curl = [&](int index) {
            return curlCommand(w.f.transport->sent().at(index).request).value();
        };
        QCOMPARE(copied([&] { QTest::keyClick(lines.at(0), Qt::Key_Menu); }),
                 "Copia riga > Stop automatico: chiusura del tester");
        QCOMPARE(copied([&] { QTest::keyClick(lines.at(2), Qt::Key_F10, Qt::ShiftModifier); }),
                 "Copia come comando curl|Copia riga > " + curl(0));
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, {4, 4},
                                     lines.at(1)->mapToGlobal(QPoint(4, 4)));
        QCOMPARE(copied([&] { QApplication::sendEvent(lines.at(1), &rightClick); }),
                 "Copia come comando curl|Copia riga > " + curl(1));
    }

    // "Ferma tutto" and Esc anywhere in the window (even in the address field, even idle) stop
    // all; losing the foreground ends a cue interaction and stops what runs, and only that.
    void stopAllAndDeactivation() {
        Window w;
        QVERIFY(QTest::qWaitForWindowActive(&w.view));
        QTest::keyClick(&w.view, Qt::Key_Escape);
        QCOMPARE(w.f.transport->paths(), QStringList{"/v1/stop"});
        w.reply();
        w.f.c().controlledResonance();
        w.reply();
        auto *address = w.find<QLineEdit>("tester.address");
        address->setFocus();
        QTest::keyClick(address, Qt::Key_Escape);
        QCOMPARE(w.f.transport->last().path(), "/v1/stop");
        w.reply();
        w.click("tester.stop");
        w.reply();
        QCOMPARE(w.f.transport->paths(), (QStringList{"/v1/stop", "/v1/resonance", "/v1/stop", "/v1/stop"}));

        w.f.transport->clearSent();
        w.view.viewState()->setCueInteractionActive(true);
        const auto entriesBefore = w.f.c().entries().size();
        Q_EMIT qApp->applicationStateChanged(Qt::ApplicationInactive);
        QVERIFY(!w.view.viewState()->cueInteractionActive());
        QCOMPARE(w.f.c().entries().size(), entriesBefore);
        w.f.c().controlledResonance();
        w.reply();
        Q_EMIT qApp->applicationStateChanged(Qt::ApplicationInactive);
        QCOMPARE(w.f.c().entries().first().text, "Stop automatico: il tester ha perso il primo piano");
        w.reply();
        Q_EMIT qApp->applicationStateChanged(Qt::ApplicationActive);
        QCOMPARE(w.f.transport->paths(), (QStringList{"/v1/resonance", "/v1/stop"}));
    }

    // A page tab's press action does what its click does: it shows the tab's page, and the tab is
    // then the one selected tab of its list. While switching is locked, a tab refuses it.
    void tabActionsChooseThePage() {
        Window w;
        const QList<std::pair<QString, QString>> tabs{
            // a tab, and a control of the page it shows
            {"tester.section.impulses", "tester.impulses.crisp"},
            {"tester.section.billiards", "tester.billiards.pad"},
            {"tester.section.resonance", "tester.resonance.mode"},
            {"tester.resonance.mode.gesture", "tester.gesture.pad"},
            {"tester.resonance.mode.timed", "tester.timed.vibrate"},
            {"tester.resonance.mode.controlled", "tester.controlled.start"}};
        const auto press = [&](const QString &tab) {
            QAccessibleInterface *accessible = w.accessible(tab);
            QCOMPARE(accessible->role(), QAccessible::PageTab);
            accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
            QCoreApplication::processEvents();
        };
        for (const auto &[pressed, page] : tabs) {
            press(pressed);
            for (const auto &[tab, tabPage] : tabs) {
                if (w.find(tab)->parentWidget() == w.find(pressed)->parentWidget()) {
                    QCOMPARE(w.accessible(tab)->state().selected, tab == pressed);
                    QCOMPARE(w.find(tabPage)->isVisibleTo(&w.view), tab == pressed);
                }
            }
        }
        QVERIFY(w.f.transport->sent().isEmpty());

        w.f.c().verifyConnection();
        QCoreApplication::processEvents();
        for (const QString tab : {"tester.section.impulses", "tester.resonance.mode.gesture"}) {
            QVERIFY(!w.accessible(tab)->actionInterface()->actionNames().contains(
                QAccessibleActionInterface::pressAction()));
            press(tab);
            QVERIFY(!w.accessible(tab)->state().selected);
        }
        QCOMPARE(w.view.viewState()->selectedSection(), Section::resonance);
        QCOMPARE(w.view.viewState()->resonancePage(), ResonancePage::controlled);
    }

    // Assistive technology reads and sets each slider in the unit its row shows; setting a value
    // writes the field as dragging the slider to it does.
    void slidersSpeakTheirUnit_data() {
        QTest::addColumn<QString>("slider");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QList<double>>("range"); // minimum, maximum, step
        QTest::addColumn<double>("set");
        QTest::addColumn<double>("value"); // the field afterwards
        QTest::addColumn<QString>("text");
        const QList<double> percent{0, 100, 1};
        QTest::newRow("Intensità") << "controlled.intensity"
                                   << "intensity" << percent << 70.0 << 0.7 << "70%";
        QTest::newRow("Cadenza") << "controlled.pulseRate"
                                 << "pulseRateHz" << QList<double>{1, 60, 1} << 42.0 << 42.0 << "42 imp/s";
        QTest::newRow("Nitidezza") << "controlled.sharpness"
                                   << "sharpness" << percent << 12.34 << 0.1234 << "12%";
        QTest::newRow("Transizione between steps")
            << "controlled.transition"
            << "transitionMilliseconds" << QList<double>{0, 1000, 10} << 255.0 << 260.0 << "260 ms";
        QTest::newRow("Durata") << "timed.duration"
                                << "durationMilliseconds" << QList<double>{20, 2000, 10} << 500.0 << 500.0
                                << "500 ms";
        QTest::newRow("Durata beyond its range")
            << "timed.duration"
            << "durationMilliseconds" << QList<double>{20, 2000, 10} << 5000.0 << 2000.0 << "2000 ms";
        QTest::newRow("Reattività") << "gesture.reactivity"
                                    << "reactivity" << percent << 25.0 << 0.25 << "25%";
        QTest::newRow("curve cadence")
            << "billiards.curve.high.cadence"
            << "highCadence" << QList<double>{1, 60, 1} << 20.0 << 20.0 << "20 imp/s";
        QTest::newRow("curve exponent") << "billiards.exponent"
                                        << "exponent" << QList<double>{0.25, 4, 0.05} << 2.0 << 2.0 << "2.00";
    }
    void slidersSpeakTheirUnit() {
        QFETCH(QString, slider);
        QFETCH(QString, field);
        QFETCH(QList<double>, range);
        QFETCH(double, set);
        QFETCH(double, value);
        QFETCH(QString, text);
        Window w;
        QWidget *found = w.find("tester." + slider);
        auto *row = qobject_cast<ParameterSlider *>(found);
        auto *unitSlider = row ? row->slider() : qobject_cast<UnitSlider *>(found);
        const auto fieldValue = [&] {
            const vibrelle::TensionCurve curve = w.f.c().tensionCurve();
            return field == "exponent"      ? curve.exponent
                   : field == "highCadence" ? curve.highCadence
                                            : w.f.c().property(qPrintable(field)).toDouble();
        };
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(unitSlider);
        QCOMPARE(accessible->role(), QAccessible::Slider);
        QAccessibleValueInterface *values = accessible->valueInterface();
        QCOMPARE(values->minimumValue().toDouble(), range.at(0));
        QCOMPARE(values->maximumValue().toDouble(), range.at(1));
        QCOMPARE(values->minimumStepSize().toDouble(), range.at(2));
        values->setCurrentValue(set);
        QCOMPARE(fieldValue(), value);
        QCOMPARE(accessible->text(QAccessible::Value), text);
        QCOMPARE(values->currentValue().toDouble(), row && range.at(1) == 100 ? value * 100 : value);

        // A drag to the same position writes the same value.
        const int position = unitSlider->value();
        unitSlider->setValue(unitSlider->minimum() == position ? position + 1 : unitSlider->minimum());
        unitSlider->setSliderDown(true);
        unitSlider->setSliderPosition(position);
        unitSlider->setSliderDown(false);
        QCOMPARE(fieldValue(), value);
    }

    // Every stop of the Tab order has a name and says what it is, and Tab follows the reading order:
    // sidebar, connection bar, workspace (top to bottom, a column before the one to its right), log,
    // footer.
    void focusStopsAreNamedInReadingOrder_data() {
        QTest::addColumn<Section>("section");
        QTest::addColumn<ResonancePage>("page");
        QTest::newRow("controlled") << Section::resonance << ResonancePage::controlled;
        QTest::newRow("gesture") << Section::resonance << ResonancePage::gesture;
        QTest::newRow("timed") << Section::resonance << ResonancePage::timed;
        QTest::newRow("impulses") << Section::impulses << ResonancePage::controlled;
        QTest::newRow("billiards, curve and log open") << Section::billiards << ResonancePage::controlled;
    }
    void focusStopsAreNamedInReadingOrder() {
        QFETCH(Section, section);
        QFETCH(ResonancePage, page);
        Window w;
        w.view.viewState()->setSelectedSection(section);
        w.view.viewState()->setResonancePage(page);
        if (section == Section::billiards) {
            w.view.viewState()->setShowingLog(true);
            w.click("tester.billiards.curve");
        }
        QCoreApplication::processEvents();
        QVERIFY(QTest::qWaitForWindowActive(&w.view));
        const QStringList regions{"tester.sidebar", "tester.connection", "tester.workspace", "tester.log",
                                  "tester.footer"};
        const auto region = [&](QWidget *stop) {
            for (QWidget *ancestor = stop; ancestor; ancestor = ancestor->parentWidget()) {
                if (regions.contains(ancestor->objectName())) {
                    return regions.indexOf(ancestor->objectName());
                }
            }
            return qsizetype(-1);
        };
        QWidget *first = w.find("tester.section.resonance");
        first->setFocus(Qt::TabFocusReason);
        QWidget *previous = nullptr;
        QStringList stops;
        for (QWidget *stop = first; stop && (stops.isEmpty() || stop != first);
             stop = QApplication::focusWidget()) {
            QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(stop);
            const QString name = accessible->text(QAccessible::Name);
            stops << name;
            QVERIFY2(!name.isEmpty(), qPrintable(stops.join(" > ")));
            QVERIFY2(accessible->role() != QAccessible::Client && accessible->role() != QAccessible::NoRole,
                     qPrintable(name));
            if (previous) {
                const QRect before(previous->mapTo(&w.view, QPoint()), previous->size());
                const QRect now(stop->mapTo(&w.view, QPoint()), stop->size());
                QVERIFY2(region(stop) > region(previous) ||
                             (region(stop) == region(previous) &&
                              (now.top() >= before.top() || now.left() > before.right())),
                         qPrintable(stops.join(" > ")));
            }
            QVERIFY2(stops.size() < 60, "Tab never comes back to the first stop");
            previous = stop;
            QTest::keyClick(stop, Qt::Key_Tab);
        }
        QVERIFY(region(previous) == regions.indexOf("tester.footer"));
    }

    // Every text is sized relative to the application's font: with 24 pt instead of 10 pt, every
    // font of the window is 2.4 times as large, whether the window was built before or after the
    // change, and at its minimum size nothing outside the scrolling workspace is cut short.
    void textFollowsTheApplicationFont() {
        const auto restore = qScopeGuard([font = QApplication::font()] { QApplication::setFont(font); });
        const auto setPoints = [](double points) {
            QFont font = QApplication::font();
            font.setPointSizeF(points);
            QApplication::setFont(font);
        };
        const auto fonts = [](const TesterView &view) {
            QList<QFont> all;
            for (const QWidget *widget : view.findChildren<QWidget *>()) {
                all << widget->font();
            }
            return all;
        };
        setPoints(10);
        Window before;
        const QList<QFont> designed = fonts(before.view);
        const auto *row = before.find("tester.section.impulses");
        const int rowHeight = row->sizeHint().height();
        setPoints(24);
        QCoreApplication::processEvents();
        Window after;
        QCOMPARE(fonts(before.view), fonts(after.view));
        const QList<QFont> larger = fonts(after.view);
        for (qsizetype i = 0; i < larger.size(); ++i) {
            QCOMPARE(larger.at(i).pointSizeF(), designed.at(i).pointSizeF() * 2.4);
        }
        QVERIFY(row->sizeHint().height() > rowHeight); // drawn text too

        after.view.resize(after.view.minimumSize());
        QVERIFY(QTest::qWaitForWindowExposed(&after.view));
        QCoreApplication::processEvents();
        for (const QWidget *widget : after.view.findChildren<QWidget *>()) {
            if (!widget->isVisibleTo(&after.view) || after.find("tester.workspace")->isAncestorOf(widget) ||
                widget->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored) {
                continue;
            }
            const QSize needed = widget->minimumSizeHint();
            QVERIFY2(widget->width() >= needed.width() && widget->height() >= needed.height(),
                     qPrintable(widget->objectName() + QLatin1Char(' ') + widget->metaObject()->className()));
        }
    }

    // A disabled segment or card keeps its text at least as legible as the platform's own
    // disabled text in the same palette, light and dark.
    void disabledTextStaysLegible_data() {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<QString>("control");
        for (const bool dark : {false, true}) {
            for (const char *control : {"tester.resonance.mode.controlled", "tester.resonance.mode.gesture",
                                        "tester.impulses.crisp"}) {
                QTest::addRow("%s %s", dark ? "dark" : "light", control) << dark << QString(control);
            }
        }
    }
    void disabledTextStaysLegible() {
        QFETCH(bool, dark);
        QFETCH(QString, control);
        const auto restore =
            qScopeGuard([palette = QApplication::palette()] { QApplication::setPalette(palette); });
        if (dark) {
            QPalette palette;
            for (const auto &[role, color] : {std::pair{QPalette::Window, 0x2b2b2e},
                                              {QPalette::WindowText, 0xeeeef0},
                                              {QPalette::Base, 0x1e1e21},
                                              {QPalette::Text, 0xeeeef0},
                                              {QPalette::Button, 0x3a3a3e},
                                              {QPalette::ButtonText, 0xeeeef0}}) {
                palette.setColor(role, QColor::fromRgb(color));
            }
            for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
                palette.setColor(QPalette::Disabled, role, QColor(0x80, 0x80, 0x85));
            }
            QApplication::setPalette(palette);
        }
        const auto contrast = [](const QColor &a, const QColor &b) {
            const auto luminance = [](const QColor &c) {
                const auto linear = [](double v) {
                    return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
                };
                return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
            };
            const double la = luminance(a), lb = luminance(b);
            return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
        };
        Window w;
        w.view.viewState()->setSelectedSection(control.contains("impulses") ? Section::impulses
                                                                            : Section::resonance);
        w.f.c().verifyConnection();
        QCoreApplication::processEvents();
        QWidget *widget = w.find(control);
        QVERIFY(!widget->isEnabled());
        const QImage image = w.view.grab(QRect(widget->mapTo(&w.view, QPoint()), widget->size())).toImage();
        const QColor background = image.pixelColor(6, image.height() - 8);
        double strongest = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                strongest = std::max(strongest, contrast(image.pixelColor(x, y), background));
            }
        }
        const QPalette &palette = widget->palette();
        const double platform = contrast(palette.color(QPalette::Disabled, QPalette::ButtonText),
                                         palette.color(QPalette::Disabled, QPalette::Button));
        // The platform's colour itself, drawn with antialiasing, peaks a little below its nominal contrast.
        QVERIFY2(strongest >= 0.95 * platform,
                 qPrintable(QStringLiteral("%1 < %2").arg(strongest).arg(platform)));
    }

    // Closing the window while the gesture pad is held ends the gesture with a stop; the change the
    // controller then publishes must not reach the half-destroyed window (Qt asserts in debug builds).
    void destroyingTheWindowMidDragStopsTheGesture() {
        ControllerFixture f(QStringLiteral("http://127.0.0.1:59723"), true);
        auto view = std::make_unique<TesterView>(f.controller.get());
        view->viewState()->setResonancePage(ResonancePage::gesture);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        auto *pad = vibrelle::testing::namedWidget<GesturePad>(*view, "tester.gesture.pad");
        QTest::mousePress(pad, Qt::LeftButton, {}, pad->rect().center());
        f.transport->replyOk();
        QCOMPARE(f.transport->paths(), QStringList{"/v1/resonance"});
        view.reset();
        f.transport->replyOk();
        QCOMPARE(f.transport->paths(), (QStringList{"/v1/resonance", "/v1/stop"}));
        QVERIFY(!f.c().gestureWanted());
    }
};

QTEST_MAIN(TesterViewTest)
#include "test_ui_view.moc"
