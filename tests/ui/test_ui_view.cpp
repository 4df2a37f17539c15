// The window, driven through its widgets and its accessibility interface: sidebar, connection bar, badge,
// request log, pages and their slider rows, focus order, fonts and contrast; the termination handshake on
// virtual time (the close, Ctrl+Q and the signals reach it in the real tester: test_e2e).

#include "api/CurlCommand.h"
#include "app/TerminationHandshake.h"
#include "support/ControllerFixture.h"
#include "support/NamedWidget.h"
#include "ui/BuildingBlocks.h"
#include "ui/Documentation.h"
#include "ui/IconLabel.h"
#include "ui/TesterPalette.h"
#include "ui/TesterView.h"

#include <QAccessible>
#include <QClipboard>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmapCache>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTextLayout>
#include <QtTest>

#include <cmath>

using namespace vibrelle;
using namespace vibrelle::testing;
using namespace vibrelle::ui;

namespace {

// A window on a controller on virtual time; the view re-renders on the next turn of the event loop.
struct Window {
    ControllerFixture f;
    std::unique_ptr<TesterView> view;

    explicit Window(bool answerStatus = true)
        : f(QStringLiteral("http://127.0.0.1:59723"), answerStatus)
        , view(std::make_unique<TesterView>(f.controller.get())) {
        view->show();
    }
    template <typename T = QWidget> T *find(const QString &name) {
        return vibrelle::testing::namedWidget<T>(*view, name);
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
    // 1 or 0: sections, "Verifica" and the address enabled, the hint shown; then connection and badge.
    QString summary() {
        QString s;
        for (const char *name : {"tester.section.resonance", "tester.section.impulses",
                                 "tester.section.billiards", "tester.verify", "tester.address"}) {
            s += find(name)->isEnabled() ? '1' : '0';
        }
        s += find("tester.section.hint")->isVisibleTo(view.get()) ? '1' : '0';
        auto *badge = find<IconLabel>("tester.badge");
        return s + ' ' + find<QLabel>("tester.connection.state")->text() + ' ' +
               (badge->isHidden() ? QStringLiteral("-") : badge->text() + '/' + badge->symbolName());
    }
};

// A handshake on the fixture's clock that counts its answers.
struct Handshake {
    ControllerFixture f;
    int terminations = 0;
    vibrelle::TerminationHandshake handshake{f.clock, [this] { ++terminations; }};

    explicit Handshake(bool running) {
        handshake.setController(f.controller.get());
        if (running) {
            f.c().controlledResonance();
            f.transport->replyOk();
            f.transport->clearSent();
        }
    }
    int after(double seconds = 0) {
        if (seconds > 0) {
            f.advance(seconds);
        }
        QCoreApplication::processEvents();
        return terminations;
    }
};

// A slider row: page, field, accessible range and step; the field before, the value set and the field then.
struct SliderRow {
    Section section;
    ResonancePage page;
    QString slider, property;
    QList<double> range, values;
    QStringList texts;
    bool enabledWhileBusy;
    QLocale::Language language = QLocale::English;
};

// Takes the URLs the desktop would open.
class Browser : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
    Q_INVOKABLE void open(const QUrl &url) { opened << url; }
};

} // namespace

Q_DECLARE_METATYPE(SliderRow)

class TesterViewTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // While a request or an effect is out, only the current section stays reachable.
    void windowFollowsTheController() {
        Window w;
        // The style's pixmaps of drawn control states are bounded (a long session stays flat).
        QVERIFY(QPixmapCache::cacheLimit() <= TesterView::pixmapCacheKiB);
        auto *address = w.find<QLineEdit>("tester.address");
        auto *status = w.find<QLabel>("tester.status");
        QCOMPARE(address->text(), "http://127.0.0.1:59723");
        QCOMPARE(w.summary(), "111110 Connesso -");
        w.view->viewState()->setSelectedSection(Section::billiards);
        QCOMPARE(w.find<QLabel>("tester.version")->text(), "Versione di sviluppo");
        QCOMPARE(TesterView::versionLine("1.4.2"), "Versione 1.4.2");
        address->selectAll();
        QTest::keyClicks(address, "http://127.0.0.1:8080");
        QCOMPARE(w.f.c().address(), "http://127.0.0.1:8080");
        w.click("tester.verify");
        QCOMPARE(w.f.transport->last().request.url.toString(), "http://127.0.0.1:8080/v1/status");
        QCOMPARE(w.summary(), "001001 Connesso -");
        QCOMPARE(w.find<QLabel>("tester.section.hint")->text(), "Ferma l'effetto per cambiare prova.");
        w.click("tester.section.resonance");
        QCOMPARE(w.view->viewState()->selectedSection(), Section::billiards);
        const QString before = status->text();
        w.f.transport->fail();
        QCoreApplication::processEvents();
        QCOMPARE(w.summary(), "111110 Da collegare -");
        QVERIFY(w.f.c().status() != before);
        QCOMPARE(status->text(), w.f.c().status());
        w.f.c().setAddress("http://127.0.0.1:59723");
        // The badge shows any resonance, in whichever section is shown. The disabled address field takes no
        // text from anywhere.
        w.f.c().controlledResonance();
        w.reply();
        QCOMPARE(w.summary(), "001001 Connesso In corso/waveform");
        w.accessible("tester.address")->editableTextInterface()->replaceText(0, 5, "https");
        QCOMPARE(address->text(), "http://127.0.0.1:59723");
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
        w.reply();
        w.f.c().stop();
        w.reply();
        // "Ferma tutto" and Esc anywhere in the window (even in the address field, even idle) stop all;
        // losing the foreground ends a cue interaction and stops what runs, and only that.
        QVERIFY(QTest::qWaitForWindowActive(w.view.get()));
        w.f.transport->clearSent();
        QTest::keyClick(w.view.get(), Qt::Key_Escape);
        w.reply();
        w.f.c().controlledResonance();
        w.reply();
        address->setFocus();
        QTest::keyClick(address, Qt::Key_Escape);
        w.reply();
        w.click("tester.stop");
        w.reply();
        QCOMPARE(w.f.transport->paths(), (QStringList{"/v1/stop", "/v1/resonance", "/v1/stop", "/v1/stop"}));
        w.f.transport->clearSent();
        w.view->viewState()->setCueInteractionActive(true);
        const auto entriesBefore = w.f.c().entries().size();
        Q_EMIT qApp->applicationStateChanged(Qt::ApplicationInactive);
        QVERIFY(!w.view->viewState()->cueInteractionActive());
        QCOMPARE(w.f.c().entries().size(), entriesBefore);
        w.f.c().controlledResonance();
        w.reply();
        Q_EMIT qApp->applicationStateChanged(Qt::ApplicationInactive);
        QCOMPARE(w.f.c().entries().first().text, "Stop automatico: il tester ha perso il primo piano");
        w.reply();
        Q_EMIT qApp->applicationStateChanged(Qt::ApplicationActive);
        QCOMPARE(w.f.transport->paths(), (QStringList{"/v1/resonance", "/v1/stop"}));
        // Destroyed while the gesture pad is held, the window ends the gesture; nothing reaches it
        // half-destroyed.
        w.view->viewState()->setSelectedSection(Section::resonance);
        w.view->viewState()->setResonancePage(ResonancePage::gesture);
        QCoreApplication::processEvents();
        w.f.transport->clearSent();
        QWidget *pad = w.find("tester.gesture.pad");
        QTest::mousePress(pad, Qt::LeftButton, {}, pad->rect().center());
        w.reply();
        w.view.reset();
        w.f.transport->replyOk();
        QCOMPARE(w.f.transport->paths(), (QStringList{"/v1/resonance", "/v1/stop"}));
        QVERIFY(!w.f.c().gestureWanted());
    }

    // A placeholder, then lines newest first (failures red), each a Tab stop whose menu copies it or a curl.
    void logLinesShowAndCopy() {
        Window w(false); // the status request is still out: the log is empty
        auto *toggle = w.find("tester.log.toggle");
        QVERIFY(!w.view->findChild<QWidget *>("tester.log")); // built when first shown
        QCOMPARE(toggle->accessibleName(), "Mostra registro richieste");
        w.click("tester.log.toggle");
        QCOMPARE(toggle->accessibleName(), "Nascondi registro richieste");
        auto *placeholder = w.find<QLabel>("tester.log.placeholder");
        QVERIFY(placeholder->isVisibleTo(w.view.get()));
        QCOMPARE(placeholder->text(),
                 "Nessuna richiesta. Il tester non interroga il servizio quando è inattivo.");
        w.f.transport->fail(); // the status request
        w.f.c().impulse("crisp");
        w.f.transport->fail(); // the automatic stop follows
        w.reply();
        w.f.c().addLog(QStringLiteral("Stop automatico: chiusura del tester"), false);
        QCoreApplication::processEvents();
        QVERIFY(!placeholder->isVisibleTo(w.view.get()));
        QList<QLabel *> lines = w.view->findChildren<QLabel *>("tester.log.entry");
        lines.removeIf([&](QLabel *line) { return !line->isVisibleTo(w.view.get()); });
        QCOMPARE(lines.size(), 4);
        const QColor red = TesterPalette::failure(w.view->palette());
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(lines.at(i)->text(), w.f.c().entries().at(i).text);
            QCOMPARE(lines.at(i)->palette().color(QPalette::WindowText) == red, i >= 2);
            QVERIFY(i == 0 || lines.at(i - 1)->y() < lines.at(i)->y());
            QVERIFY(lines.at(i)->textInteractionFlags() & Qt::TextSelectableByMouse);
        }
        // Backwards from the footer's first control, as the lines come right before it.
        toggle->setFocus(Qt::TabFocusReason);
        QList<QLabel *> reached;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
            reached.prepend(qobject_cast<QLabel *>(QApplication::focusWidget()));
        }
        QCOMPARE(reached, lines);
        // The note, the stop, the failed impulse: what each menu offers, and what its first item copies.
        const auto copied = [](const auto &open) -> QString {
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
                 "Copia come comando curl|Copia riga > " + curl(1));
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, {4, 4},
                                     lines.at(1)->mapToGlobal(QPoint(4, 4)));
        QCOMPARE(copied([&] { QApplication::sendEvent(lines.at(1), &rightClick); }),
                 "Copia come comando curl|Copia riga > " + curl(2));
        w.click("tester.log.toggle");
        QVERIFY(w.find("tester.log")->isHidden());
    }

    // A longer service message ends in "…", whole in the tooltip and the accessible name.
    void statusLineKeepsToTwoLines() {
        Window w(false);
        auto *line = w.find<QLabel>("tester.status");
        for (const auto &[message, cut] :
             {std::pair{QString("parola ").repeated(12).trimmed(), false},
              {QString("il servizio non risponde ").repeated(20).trimmed(), true},
              {QStringLiteral("uno\ndue\ntre"), true},
              {QString("x").repeated(400), true}}) {
            w.f.transport->replyJson(500, {{"ok", false}, {"error", message}});
            QCoreApplication::processEvents();
            const QString status = "500: " + message;
            QCOMPARE(QAccessible::queryAccessibleInterface(line)->text(QAccessible::Name), status);
            QCOMPARE(line->text() != status, cut);
            QCOMPARE(line->toolTip(), cut ? status : QString());
            QTextLayout layout(line->text().replace(u'\n', QChar::LineSeparator), line->font());
            layout.beginLayout();
            int lines = 0;
            for (QTextLine l = layout.createLine(); l.isValid(); l = layout.createLine(), ++lines)
                l.setLineWidth(line->contentsRect().width());
            layout.endLayout();
            QVERIFY2(lines <= 2, qPrintable(line->text()));
            if (cut) {
                QVERIFY(line->text().endsWith(QChar(0x2026)));
                QVERIFY(status.startsWith(line->text().section(u'\n', 0, 0)));
            }
            w.f.c().verifyConnection();
        }
    }

    // The reference installed beside the program, else the source tree's copy (as for this test), else none.
    void theReferenceOpensAsAFile() {
        for (const auto &[installed, inSourceTree] :
             {std::pair{true, false}, {true, true}, {false, true}, {false, false}}) {
            QTemporaryDir prefix;
            const QString installedFile = prefix.filePath("share/doc/vibrelle-api-tester/api.html");
            const QString sourceFile = prefix.filePath("src/docs/api.html");
            for (const auto &[wanted, file] :
                 {std::pair{installed, installedFile}, {inSourceTree, sourceFile}}) {
                QDir().mkpath(QFileInfo(file).path());
                QVERIFY(!wanted || QFile(file).open(QIODevice::WriteOnly));
            }
            const QString expected = installed ? installedFile : inSourceTree ? sourceFile : QString();
            QCOMPARE(documentationFile(prefix.filePath("bin"), sourceFile), expected);
        }
        Browser browser;
        QDesktopServices::setUrlHandler("file", &browser, "open");
        const auto unset = qScopeGuard([] { QDesktopServices::unsetUrlHandler("file"); });
        Window w;
        w.click("tester.docs");
        QCOMPARE(browser.opened.size(), 1);
        QVERIFY(browser.opened.first().isLocalFile());
        QCOMPARE(browser.opened.first().toLocalFile(), documentationFile());
        QCOMPARE(QFileInfo(documentationFile()).fileName(), "api.html");
    }

    // Every way of choosing a tab shows its page alone and sends nothing (none while locked); on each page
    // every Tab stop is named, in reading order: sidebar, connection, workspace (top down), log, footer.
    void pageTabsAndTheTabOrder() {
        Window w;
        QVERIFY(QTest::qWaitForWindowActive(w.view.get()));
        const QList<std::tuple<QString, QString, QString>> steps{
            // tab, how, a control of its page
            {"section.impulses", "action", "impulses.crisp"},
            {"section.billiards", "click", "billiards.pad"},
            {"section.resonance", "Space", "resonance.mode"},
            {"resonance.mode.gesture", "action", "gesture.pad"},
            {"resonance.mode.timed", "Right", "timed.vibrate"},
            {"resonance.mode.controlled", "Return", "controlled.start"}};
        const auto choose = [&](const QString &tab, const QString &how) {
            QWidget *widget = w.find("tester." + tab);
            if (how == "action") {
                QCOMPARE(w.accessible("tester." + tab)->role(), QAccessible::PageTab);
                w.accessible("tester." + tab)
                    ->actionInterface()
                    ->doAction(QAccessibleActionInterface::pressAction());
            } else if (how == "click") {
                QTest::mouseClick(widget, Qt::LeftButton);
            } else if (how == "Right") { // from the segment to its left
                QWidget *left =
                    widget->parentWidget()->childAt(widget->geometry().left() - 4, widget->y() + 4);
                left->setFocus(Qt::TabFocusReason);
                QTest::keyClick(left, Qt::Key_Right);
            } else {
                widget->setFocus(Qt::TabFocusReason);
                QTest::keyClick(widget, how == "Space" ? Qt::Key_Space : Qt::Key_Return);
            }
            QCoreApplication::processEvents();
        };
        const QStringList regions{"tester.sidebar", "tester.connection", "tester.workspace", "tester.log",
                                  "tester.footer"};
        const auto place = [&](QWidget *stop) { // region, then top and right edge
            QWidget *region = stop;
            while (!regions.contains(region->objectName())) {
                region = region->parentWidget();
            }
            const QRect rect(stop->mapTo(w.view.get(), QPoint()), stop->size());
            return std::tuple{regions.indexOf(region->objectName()), rect.top(), rect.left(), rect.right()};
        };
        const auto walkTheTabOrder = [&] {
            QWidget *first = w.find("tester.section.resonance");
            first->setFocus(Qt::TabFocusReason);
            QStringList stops;
            for (QWidget *stop = first, *previous = nullptr; stops.isEmpty() || stop != first;
                 previous = stop, QTest::keyClick(stop, Qt::Key_Tab), stop = QApplication::focusWidget()) {
                QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(stop);
                stops << accessible->text(QAccessible::Name);
                QVERIFY2(!stops.last().isEmpty() && accessible->role() != QAccessible::Client,
                         qPrintable(stops.join(" > ")));
                if (previous) {
                    const auto [region, top, left, right] = place(stop);
                    const auto [regionBefore, topBefore, leftBefore, rightBefore] = place(previous);
                    QVERIFY2(region > regionBefore ||
                                 (region == regionBefore && (top >= topBefore || left > rightBefore)),
                             qPrintable(stops.join(" > ")));
                }
                QVERIFY(stops.size() < 60);
            }
        };
        for (const auto &[chosen, how, page] : steps) {
            choose(chosen, how);
            for (const auto &[tab, unused, tabPage] : steps) {
                if (w.find("tester." + tab)->parentWidget() == w.find("tester." + chosen)->parentWidget()) {
                    QVERIFY2(w.accessible("tester." + tab)->state().selected == (tab == chosen),
                             qPrintable(tab));
                    // A page never chosen is not built yet.
                    const auto *control = w.view->findChild<QWidget *>("tester." + tabPage);
                    QVERIFY2(control ? control->isVisibleTo(w.view.get()) == (tab == chosen) : tab != chosen,
                             qPrintable(tab));
                }
            }
            if (chosen == "section.billiards") { // the curve card and the log open from here on
                w.view->viewState()->setShowingLog(true);
                w.click("tester.billiards.curve");
            }
            walkTheTabOrder();
        }
        QVERIFY(w.f.transport->sent().isEmpty());
        w.f.c().verifyConnection();
        QCoreApplication::processEvents();
        for (const QString tab : {"section.impulses", "resonance.mode.gesture"}) {
            QVERIFY(!w.accessible("tester." + tab)->actionInterface()->actionNames().contains("Press"));
            choose(tab, "action");
            QVERIFY(!w.accessible("tester." + tab)->state().selected);
        }
    }

    // A late page shows the field, then follows it; assistive technology sets each slider in its row's unit.
    void slidersFollowTheFieldAndSpeakTheirUnit_data() {
        const auto resonance = Section::resonance, billiards = Section::billiards;
        const auto controlled = ResonancePage::controlled;
        // clang-format off
        rows<SliderRow>({
            {"Intensità", {resonance, controlled, "controlled.intensity", "intensity", {0, 100, 1},
                           {0.3, 70, 0.7}, {"30%", "70%"}, false}},
            {"Cadenza", {resonance, controlled, "controlled.pulseRate", "pulseRateHz", {1, 60, 1},
                         {30, 42, 42}, {"30 imp/s", "42 imp/s"}, false}},
            {"Transizione between steps", {resonance, controlled, "controlled.transition",
                                           "transitionMilliseconds", {0, 1000, 10}, {100, 255, 260},
                                           {"100 ms", "260 ms"}, false}},
            {"Durata beyond its range", {resonance, ResonancePage::timed, "timed.duration",
                                         "durationMilliseconds", {20, 2000, 10}, {304.5, 5000, 2000},
                                         {"305 ms", "2000 ms"}, false}},
            {"gesture", {resonance, ResonancePage::gesture, "gesture.reactivity", "reactivity", {0, 100, 1},
                         {0.25, 60, 0.6}, {"25%", "60%"}, false}},
            {"impulses", {Section::impulses, controlled, "impulses.intensity", "intensity", {0, 100, 1},
                          {0.1, 90, 0.9}, {"10%", "90%"}, false}},
            {"curve cadence", {billiards, controlled, "billiards.curve.high.cadence", "highCadence",
                               {1, 60, 1}, {30, 45, 45}, {"30 imp/s", "45 imp/s"}, true}},
            {"curve exponent", {billiards, controlled, "billiards.exponent", "exponent", {0.25, 4, 0.05},
                                {1.5, 2, 2}, {"1.50", "2.00"}, true}},
            {"curve exponent in Italian", {billiards, controlled, "billiards.exponent", "exponent",
                                           {0.25, 4, 0.05}, {1.5, 1.75, 1.75}, {"1,50", "1,75"}, true,
                                           QLocale::Italian}},
        });
        // clang-format on
    }
    void slidersFollowTheFieldAndSpeakTheirUnit() {
        QFETCH(SliderRow, row);
        const auto &[section, page, name, property, range, values, texts, enabledWhileBusy, language] = row;
        const double before = values[0], set = values[1], field = values[2];
        const auto restore = qScopeGuard([previous = QLocale()] { QLocale::setDefault(previous); });
        QLocale::setDefault(QLocale(language));
        Window w;
        const bool inCurve = section == Section::billiards;
        const auto curveField = property == "exponent" ? &TensionCurve::exponent : &TensionCurve::highCadence;
        const auto fieldValue = [&] {
            return inCurve ? w.f.c().tensionCurve().*curveField
                           : w.f.c().property(qPrintable(property)).toDouble();
        };
        const auto setField = [&](double value) {
            TensionCurve curve = w.f.c().tensionCurve();
            curve.*curveField = value;
            inCurve ? w.f.c().setTensionCurve(curve) : void(w.f.c().setProperty(qPrintable(property), value));
        };
        setField(before);
        w.f.c().verifyConnection(); // a request in flight while the page is built
        QVERIFY(name.startsWith("controlled") || !w.view->findChild<QWidget *>("tester." + name));
        w.view->viewState()->setSelectedSection(section);
        w.view->viewState()->setResonancePage(page);
        QCoreApplication::processEvents();
        if (section == Section::billiards) {
            w.click("tester.billiards.curve");
        }
        auto *parameter = w.view->findChild<ParameterSlider *>("tester." + name);
        UnitSlider *slider = parameter ? parameter->slider() : w.find<UnitSlider>("tester." + name);
        auto *label =
            parameter ? parameter->findChild<QLabel *>("value") : w.find<QLabel>("tester." + name + ".value");
        QVERIFY(slider->isVisibleTo(w.view.get()));
        QCOMPARE(label->text(), texts[0]);
        QCOMPARE(slider->isEnabled(), enabledWhileBusy);
        w.reply();
        QVERIFY(slider->isEnabled());
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(slider);
        QAccessibleValueInterface *value = accessible->valueInterface();
        QCOMPARE(accessible->role(), QAccessible::Slider);
        QCOMPARE((QList<double>{value->minimumValue().toDouble(), value->maximumValue().toDouble(),
                                value->minimumStepSize().toDouble()}),
                 range);
        value->setCurrentValue(set);
        QCOMPARE(fieldValue(), field);
        QCOMPARE(accessible->text(QAccessible::Value), texts[1]);
        QCOMPARE(label->text(), texts[1]);
        QCOMPARE(value->currentValue().toDouble(), texts[1].endsWith('%') ? field * 100 : field);
        // A drag to the same position writes the same value.
        const int position = slider->value();
        slider->setValue(slider->minimum() + (position == slider->minimum()));
        slider->setSliderDown(true);
        slider->setSliderPosition(position);
        slider->setSliderDown(false);
        QCOMPARE(fieldValue(), field);
        // Disabled or not, the row follows the field.
        w.f.c().verifyConnection();
        setField(before);
        QCOMPARE(slider->isEnabled(), enabledWhileBusy);
        QCOMPARE(label->text(), texts[0]);
        QCOMPARE(slider->shownText(), texts[0]);
    }

    // At 24 pt for 10 pt every font is 2.4 times as large, nothing outside the workspace is cut; notes wrap.
    void textFollowsTheApplicationFont() {
        const auto restore = qScopeGuard([font = QApplication::font()] { QApplication::setFont(font); });
        QFont font = QApplication::font();
        const auto fontSizes = [](const TesterView &view, double scale) {
            QList<int> sizes; // hundredths of a point
            for (const QWidget *widget : view.findChildren<QWidget *>()) {
                sizes << qRound(widget->font().pointSizeF() * scale * 100);
            }
            return sizes;
        };
        font.setPointSizeF(10);
        QApplication::setFont(font);
        Window before;
        const QList<int> designed = fontSizes(*before.view, 2.4);
        const int rowHeight = before.find("tester.section.impulses")->sizeHint().height();
        font.setPointSizeF(24);
        QApplication::setFont(font);
        QCoreApplication::processEvents();
        Window after;
        QCOMPARE(fontSizes(*after.view, 1), designed);
        QCOMPARE(fontSizes(*before.view, 1), designed);
        QVERIFY(before.find("tester.section.impulses")->sizeHint().height() > rowHeight); // drawn text too
        std::unique_ptr<QLabel> note(ui::note(QStringLiteral("Una nota lunga che non entra in una sola riga: "
                                                             "va a capo invece di essere tagliata.")));
        QVERIFY(note->hasHeightForWidth());
        QVERIFY(note->heightForWidth(120) > 2 * note->fontMetrics().lineSpacing());
        after.view->resize(after.view->minimumSize());
        QVERIFY(QTest::qWaitForWindowExposed(after.view.get()));
        for (const QWidget *widget : after.view->findChildren<QWidget *>()) {
            const QSize needed = widget->minimumSizeHint();
            QVERIFY2(!widget->isVisibleTo(after.view.get()) ||
                         after.find("tester.workspace")->isAncestorOf(widget) ||
                         widget->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored ||
                         (widget->width() >= needed.width() && widget->height() >= needed.height()),
                     qPrintable(widget->objectName() + ' ' + widget->metaObject()->className()));
        }
    }

    // No pixel of a disabled segment or card contrasts less with its background than the platform's own.
    void disabledTextStaysLegible_data() {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void disabledTextStaysLegible() {
        QFETCH(bool, dark);
        const auto restore =
            qScopeGuard([palette = QApplication::palette()] { QApplication::setPalette(palette); });
        if (dark) { // window text, button, light, dark, mid, text, bright text, base, window
            QPalette palette(QColor(0xeeeef0), QColor(0x3a3a3e), QColor(0x55555a), QColor(0x1a1a1c),
                             QColor(0x4a4a4e), QColor(0xeeeef0), Qt::white, QColor(0x1e1e21),
                             QColor(0x2b2b2e));
            for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
                palette.setColor(QPalette::Disabled, role, QColor(0x808085));
            }
            QApplication::setPalette(palette);
        }
        const auto luminance = [](const QColor &c) {
            const auto linear = [](double v) {
                return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
            };
            return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF()) +
                   0.05;
        };
        const auto contrast = [&](const QColor &a, const QColor &b) {
            return std::max(luminance(a), luminance(b)) / std::min(luminance(a), luminance(b));
        };
        Window w;
        w.f.c().verifyConnection();
        for (const QString control :
             {"resonance.mode.controlled", "resonance.mode.gesture", "impulses.crisp"}) {
            w.view->viewState()->setSelectedSection(control.startsWith("impulses") ? Section::impulses
                                                                                   : Section::resonance);
            QCoreApplication::processEvents();
            QWidget *widget = w.find("tester." + control);
            QVERIFY(!widget->isEnabled());
            const QImage image =
                w.view->grab(QRect(widget->mapTo(w.view.get(), QPoint()), widget->size())).toImage();
            double strongest = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    strongest = std::max(
                        strongest, contrast(image.pixelColor(x, y), image.pixelColor(6, image.height() - 8)));
                }
            }
            const double platform =
                contrast(widget->palette().color(QPalette::Disabled, QPalette::ButtonText),
                         widget->palette().color(QPalette::Disabled, QPalette::Button));
            // Drawn with antialiasing, the platform's own colour peaks a little below its nominal contrast.
            QVERIFY2(strongest >= 0.95 * platform,
                     qPrintable(QStringLiteral("%1: %2 < %3").arg(control).arg(strongest).arg(platform)));
        }
    }

    // The answer comes once, on a later turn: idle at once, else at the stop's reply or the 2.5 s fallback.
    void quitWaitsForTheStopOrTheFallback_data() {
        QTest::addColumn<bool>("running");
        QTest::addColumn<double>("reply"); // seconds until the stop's reply
        QTest::newRow("idle") << false << 0.0;
        QTest::newRow("stop answered") << true << 1.0;
        QTest::newRow("stalled service") << true << 4.0;
    }
    void quitWaitsForTheStopOrTheFallback() {
        QFETCH(bool, running);
        QFETCH(double, reply);
        Handshake h(running);
        QCOMPARE(h.handshake.requestTermination(), TerminationHandshake::Reply::terminateLater);
        QCOMPARE(h.terminations, 0);
        QCOMPARE(h.f.transport->paths(), running ? QStringList{"/v1/stop"} : QStringList());
        if (running) {
            QCOMPARE(h.f.c().entries().first().text, "Stop automatico: chiusura del tester");
            QCOMPARE(h.after(std::min(reply, 2.49)), 0);
            QCOMPARE(h.after(0.01), reply > 2.5 ? 1 : 0);
            h.f.transport->replyOk();
            QCOMPARE(h.terminations, reply > 2.5 ? 1 : 0);
        }
        QCOMPARE(h.after(), 1);
        QVERIFY(!h.handshake.awaitingTermination());
        QCOMPARE(h.after(3.0), 1);
    }

    // A second request while the first waits, no controller, or one that has gone: the answer is "now".
    void quitsAtOnce() {
        Handshake h(true);
        h.handshake.quit();
        QCOMPARE(h.terminations, 0);
        h.handshake.quit();
        QCOMPARE(h.terminations, 1);
        h.f.transport->replyOk();
        QCOMPARE(h.after(3.0), 1);
        h.handshake.setController(nullptr);
        QCOMPARE(h.handshake.requestTermination(), TerminationHandshake::Reply::terminateNow);
        h.handshake.quit();
        QCOMPARE(h.terminations, 2);
        QCOMPARE(h.f.transport->paths(), QStringList{"/v1/stop"}); // the first request's alone
        h.handshake.setController(h.f.controller.get());
        h.f.controller.reset();
        QCOMPARE(h.handshake.requestTermination(), TerminationHandshake::Reply::terminateNow);
    }
};

QTEST_MAIN(TesterViewTest)
#include "test_ui_view.moc"
