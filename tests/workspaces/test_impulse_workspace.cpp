#include "WorkspaceHost.h"
#include "ui/pads/ImpulseCard.h"

using namespace vibrelle::testing;
using vibrelle::ui::ImpulseCard;
using vibrelle::ui::Section;

class ImpulseWorkspaceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Each card sends its own style at the current intensity, by pointer or keyboard.
    void cardSendsItsStyle_data() {
        QTest::addColumn<QString>("style");
        QTest::addColumn<int>("key"); // 0: a mouse click
        QTest::newRow("crisp click") << "crisp" << 0;
        QTest::newRow("natural click") << "natural" << 0;
        QTest::newRow("soft click") << "soft" << 0;
        QTest::newRow("natural space") << "natural" << int(Qt::Key_Space);
        QTest::newRow("soft return") << "soft" << int(Qt::Key_Return);
    }
    void cardSendsItsStyle() {
        QFETCH(QString, style);
        QFETCH(int, key);
        WorkspaceHost host(Section::impulses);
        host.controller().setIntensity(0.25);
        auto *card = host.find<ImpulseCard>("tester.impulses." + style);
        card->setFocus(Qt::TabFocusReason);
        key ? QTest::keyClick(card, Qt::Key(key)) : QTest::mouseClick(card, Qt::LeftButton);
        QCOMPARE(host.wire().paths(), QStringList{"/v1/impulses"});
        QCOMPARE(host.lastBody("style").toString(), style);
        QCOMPARE(host.lastBody("intensity").toDouble(), 0.25);
    }

    // The corners outside the rounded card do not press it; space inside the curve does.
    void roundedCardIsTheHitArea() {
        WorkspaceHost host(Section::impulses);
        auto *card = host.find<ImpulseCard>("tester.impulses.natural");
        QTest::mouseClick(card, Qt::LeftButton, {}, QPoint(1, 1));
        QTest::mouseClick(card, Qt::LeftButton, {}, QPoint(card->width() - 2, card->height() - 2));
        QVERIFY(host.wire().sent().isEmpty());
        QTest::mouseClick(card, Qt::LeftButton, {}, QPoint(7, card->height() - 7));
        QCOMPARE(host.wire().paths(), QStringList{"/v1/impulses"});
    }

    void requestInFlightLocksCardsAndSequence() {
        WorkspaceHost host(Section::impulses);
        const QStringList controls{"tester.impulses.crisp", "tester.impulses.natural", "tester.impulses.soft",
                                   "tester.impulses.sequence", "tester.impulses.intensity"};
        QTest::mouseClick(host.find("tester.impulses.crisp"), Qt::LeftButton);
        QCOMPARE(host.enabled(controls), "00000");
        QTest::mouseClick(host.find("tester.impulses.natural"), Qt::LeftButton);
        QCOMPARE(host.wire().sent().size(), 1);
        host.reply();
        QCOMPARE(host.enabled(controls), "11111");

        // The sequence plays on after its reply; the cards wait for its end.
        QTest::mouseClick(host.find("tester.impulses.sequence"), Qt::LeftButton);
        QCOMPARE(host.lastPath(), "/v1/sequences");
        host.reply();
        QCOMPARE(host.enabled(controls), "00000");
        host.settle(1.0);
        QCOMPARE(host.enabled(controls), "11111");
    }
};

QTEST_MAIN(ImpulseWorkspaceTest)
#include "test_impulse_workspace.moc"
