#pragma once

// Base addresses the tester accepts and refuses, shared by the pure address checks
// and by the controller-level checks that a refused address sends nothing.

#include <QString>
#include <QTest>

namespace vibrelle::testing {

// Columns: "address" (as typed), "url" (the status request's URL).
inline void addAcceptedAddressRows() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("url");
    const QString standard = QStringLiteral("http://127.0.0.1:59723/v1/status");
    QTest::newRow("default") << QStringLiteral("http://127.0.0.1:59723") << standard;
    QTest::newRow("trailing slash") << QStringLiteral("http://127.0.0.1:59723/") << standard;
    QTest::newRow("blanks and newline around") << QStringLiteral(" http://127.0.0.1:59723/ \n") << standard;
    QTest::newRow("tabs and CRLF around") << QStringLiteral("\t\thttp://127.0.0.1:59723\r\n") << standard;
    QTest::newRow("no-break space around")
        << QStringLiteral("\u00A0http://127.0.0.1:59723\u00A0") << standard;
    QTest::newRow("no port") << QStringLiteral("http://127.0.0.1")
                             << QStringLiteral("http://127.0.0.1/v1/status");
    QTest::newRow("no port, slash") << QStringLiteral("http://127.0.0.1/")
                                    << QStringLiteral("http://127.0.0.1/v1/status");
    QTest::newRow("other port") << QStringLiteral("http://127.0.0.1:8080")
                                << QStringLiteral("http://127.0.0.1:8080/v1/status");
    QTest::newRow("port 1") << QStringLiteral("http://127.0.0.1:1")
                            << QStringLiteral("http://127.0.0.1:1/v1/status");
}

// Column: "address".
inline void addRefusedAddressRows() {
    QTest::addColumn<QString>("address");
    QTest::newRow("host name") << QStringLiteral("http://localhost:59723");
    QTest::newRow("https") << QStringLiteral("https://127.0.0.1:59723");
    QTest::newRow("scheme in capitals") << QStringLiteral("HTTP://127.0.0.1:59723");
    QTest::newRow("scheme capitalised") << QStringLiteral("Http://127.0.0.1:59723");
    QTest::newRow("ftp") << QStringLiteral("ftp://127.0.0.1:59723");
    QTest::newRow("path /v1") << QStringLiteral("http://127.0.0.1:59723/v1");
    QTest::newRow("path /v1/status") << QStringLiteral("http://127.0.0.1:59723/v1/status");
    QTest::newRow("double slash") << QStringLiteral("http://127.0.0.1:59723//");
    QTest::newRow("empty query") << QStringLiteral("http://127.0.0.1?");
    QTest::newRow("empty query after slash") << QStringLiteral("http://127.0.0.1:59723/?");
    QTest::newRow("query") << QStringLiteral("http://127.0.0.1:59723?a=1");
    QTest::newRow("empty fragment") << QStringLiteral("http://127.0.0.1#");
    QTest::newRow("fragment") << QStringLiteral("http://127.0.0.1:59723/#x");
    QTest::newRow("user") << QStringLiteral("http://user@127.0.0.1");
    QTest::newRow("user and password") << QStringLiteral("http://u:p@127.0.0.1");
    QTest::newRow("short loopback") << QStringLiteral("http://127.1");
    QTest::newRow("loopback as integer") << QStringLiteral("http://2130706433:59723");
    QTest::newRow("other loopback") << QStringLiteral("http://127.0.0.2:59723");
    QTest::newRow("IPv6 loopback") << QStringLiteral("http://[::1]:59723");
    QTest::newRow("trailing dot host") << QStringLiteral("http://127.0.0.1.:59723");
    QTest::newRow("no scheme") << QStringLiteral("127.0.0.1:59723");
    QTest::newRow("scheme without slashes") << QStringLiteral("http:127.0.0.1:59723");
    QTest::newRow("empty") << QString();
    QTest::newRow("blanks only") << QStringLiteral("  \n ");
    QTest::newRow("scheme only") << QStringLiteral("http://");
    QTest::newRow("blank inside") << QStringLiteral("http://127.0.0.1:59723 /");
    QTest::newRow("port not a number") << QStringLiteral("http://127.0.0.1:port");
}

} // namespace vibrelle::testing
