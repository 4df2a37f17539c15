#include "WorkspaceHost.h"
#include "ui/BuildingBlocks.h"
#include "ui/pads/ImpulseCard.h"

#include <QPushButton>
#include <QSlider>
#include <QtTest>

using namespace vibrelle;
using namespace vibrelle::testing;
using vibrelle::ui::ImpulseCard;
using vibrelle::ui::Section;

class ImpulseWorkspaceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void clickOnACardSendsItsStyle_data();
    void clickOnACardSendsItsStyle();
    void wholeRoundedCardIsTheHitArea();
    void keyboardPressesCards();
    void requestInFlightDisablesCardsAndSequence();
    void sequenceButtonSendsTheSequence();
};

void ImpulseWorkspaceTest::clickOnACardSendsItsStyle_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("style");
    QTest::newRow("crisp") << "tester.impulses.crisp"
                           << "crisp";
    QTest::newRow("natural") << "tester.impulses.natural"
                             << "natural";
    QTest::newRow("soft") << "tester.impulses.soft"
                          << "soft";
}

void ImpulseWorkspaceTest::clickOnACardSendsItsStyle() {
    QFETCH(QString, name);
    QFETCH(QString, style);

    WorkspaceHost host(Section::impulses);
    host.controller().setIntensity(0.25);
    QTest::mouseClick(host.find<ImpulseCard>(name), Qt::LeftButton);
    QCOMPARE(host.wire().paths(), QStringList{QStringLiteral("/v1/impulses")});
    QCOMPARE(host.wire().last().json().value(QStringLiteral("style")).toString(), style);
    QCOMPARE(host.wire().last().json().value(QStringLiteral("intensity")).toDouble(), 0.25);
}

void ImpulseWorkspaceTest::wholeRoundedCardIsTheHitArea() {
    WorkspaceHost host(Section::impulses);
    auto *card = host.find<ImpulseCard>(QStringLiteral("tester.impulses.natural"));
    const QPoint farCorner(card->width() - 2, card->height() - 2);

    // The very corner lies outside the rounded rectangle (radius 16).
    QTest::mouseClick(card, Qt::LeftButton, {}, QPoint(1, 1));
    QTest::mouseClick(card, Qt::LeftButton, {}, farCorner);
    QVERIFY(host.wire().sent().isEmpty());

    // Empty space near a corner, inside the curve, fires the impulse.
    QTest::mouseClick(card, Qt::LeftButton, {}, QPoint(7, card->height() - 7));
    QCOMPARE(host.wire().paths(), QStringList{QStringLiteral("/v1/impulses")});
}

void ImpulseWorkspaceTest::keyboardPressesCards() {
    WorkspaceHost host(Section::impulses);
    auto *soft = host.find<ImpulseCard>(QStringLiteral("tester.impulses.soft"));
    QCOMPARE(soft->focusPolicy(), Qt::StrongFocus);
    soft->setFocus(Qt::TabFocusReason);
    QTest::keyClick(soft, Qt::Key_Space);
    QCOMPARE(host.wire().paths(), QStringList{QStringLiteral("/v1/impulses")});
    host.wire().replyOk();
    host.settle();

    QTest::keyClick(soft, Qt::Key_Return);
    QCOMPARE(host.wire().sent().size(), 2);
    QCOMPARE(host.wire().last().json().value(QStringLiteral("style")).toString(), QStringLiteral("soft"));
}

void ImpulseWorkspaceTest::requestInFlightDisablesCardsAndSequence() {
    WorkspaceHost host(Section::impulses);
    const QStringList cards{QStringLiteral("tester.impulses.crisp"),
                            QStringLiteral("tester.impulses.natural"),
                            QStringLiteral("tester.impulses.soft")};
    auto *sequence = host.find<QPushButton>(QStringLiteral("tester.impulses.sequence"));
    auto *intensity = host.find<ui::ParameterSlider>(QStringLiteral("tester.impulses.intensity"));

    QTest::mouseClick(host.find<ImpulseCard>(cards.at(0)), Qt::LeftButton);
    for (const QString &name : cards) {
        QVERIFY2(!host.find<ImpulseCard>(name)->isEnabled(), qPrintable(name));
    }
    QVERIFY(!sequence->isEnabled());
    // The default rule: no resonance mode and a request in flight.
    QVERIFY(!intensity->slider()->isEnabled());

    // A second click while the first is unanswered sends nothing.
    QTest::mouseClick(host.find<ImpulseCard>(cards.at(1)), Qt::LeftButton);
    QCOMPARE(host.wire().sent().size(), 1);

    host.wire().replyOk();
    host.settle();
    for (const QString &name : cards) {
        QVERIFY2(host.find<ImpulseCard>(name)->isEnabled(), qPrintable(name));
    }
    QVERIFY(sequence->isEnabled());
    QVERIFY(intensity->slider()->isEnabled());
}

void ImpulseWorkspaceTest::sequenceButtonSendsTheSequence() {
    WorkspaceHost host(Section::impulses);
    auto *sequence = host.find<QPushButton>(QStringLiteral("tester.impulses.sequence"));
    QCOMPARE(sequence->text(), QStringLiteral("Doppio impulso"));
    QTest::mouseClick(sequence, Qt::LeftButton);
    QCOMPARE(host.wire().paths(), QStringList{QStringLiteral("/v1/sequences")});
    host.wire().replyOk();
    host.settle();
    // The sequence plays for a while after its reply; the cards wait for it.
    QVERIFY(!host.find<ImpulseCard>(QStringLiteral("tester.impulses.crisp"))->isEnabled());
    host.settle(1.0);
    QVERIFY(host.find<ImpulseCard>(QStringLiteral("tester.impulses.crisp"))->isEnabled());
    QVERIFY(sequence->isEnabled());
}

QTEST_MAIN(ImpulseWorkspaceTest)
#include "test_impulse_workspace.moc"
