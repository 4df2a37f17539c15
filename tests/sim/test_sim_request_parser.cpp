// The sim's incremental HTTP request parser, in-process: framing under any splitting, pipelining,
// persistence, and the limits that keep a misbehaving peer from tying the service up.

#include "RequestParser.h"

#include <QTest>

using namespace vibrelle::sim;
using Event = RequestParser::Event;

// Feeds the bytes in chunks of `chunk` and collects the complete requests.
static QList<HttpRequest> feed(RequestParser &parser, const QByteArray &bytes, qsizetype chunk,
                               RequestParser::Result *last = nullptr) {
    QList<HttpRequest> requests;
    QByteArray buffer;
    RequestParser::Result result;
    for (qsizetype at = 0; at < bytes.size() && result.event != Event::Error; at += chunk) {
        buffer += bytes.mid(at, chunk);
        while ((result = parser.next(buffer)).event == Event::Complete || result.event == Event::Head) {
            if (result.event == Event::Complete)
                requests.append(parser.takeRequest());
        }
    }
    if (last)
        *last = result;
    return requests;
}

class SimRequestParserTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void requestsSurviveAnySplitting_data() {
        QTest::addColumn<int>("chunk");
        for (int chunk : {1, 7, 4096})
            QTest::addRow("%d bytes", chunk) << chunk;
    }

    void requestsSurviveAnySplitting() {
        QFETCH(int, chunk);
        // Two pipelined requests; the second with an absolute-form target, bare LF line ends, a
        // padded value and a stray CRLF before it.
        const QByteArray bytes = "POST /v1/resonance?x=1 HTTP/1.1\r\nHost: 127.0.0.1\r\nX-VBL-Client: abc\r\n"
                                 "Content-Type: application/json\r\nContent-Length: 11\r\n\r\n{\"a\":true}\n"
                                 "\r\nGET http://127.0.0.1:59723/v1/status HTTP/1.1\n"
                                 "X-VBL-Client-Name:  API Tester \n\n";
        RequestParser parser;
        const QList<HttpRequest> requests = feed(parser, bytes, chunk);
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[0].method, QByteArray("POST"));
        QCOMPARE(requests[0].path, QByteArray("/v1/resonance"));
        QCOMPARE(requests[0].header("x-vbl-client"), QByteArray("abc"));
        QCOMPARE(requests[0].body, QByteArray("{\"a\":true}\n"));
        QCOMPARE(requests[1].method, QByteArray("GET"));
        QCOMPARE(requests[1].path, QByteArray("/v1/status"));
        QCOMPARE(requests[1].header("x-vbl-client-name"), QByteArray("API Tester"));
        QVERIFY(requests[1].body.isEmpty());
    }

    void headEventPrecedesTheBody() {
        RequestParser parser;
        QByteArray buffer = "POST /v1/stop HTTP/1.1\r\nContent-Length: 2\r\n\r\n{";
        QCOMPARE(parser.next(buffer).event, Event::Head);
        QCOMPARE(parser.request().path, QByteArray("/v1/stop"));
        QCOMPARE(parser.next(buffer).event, Event::NeedMore);
        buffer += "}GET";
        QCOMPARE(parser.next(buffer).event, Event::Complete);
        QCOMPARE(parser.takeRequest().body, QByteArray("{}"));
        QCOMPARE(buffer, QByteArray("GET")); // the next request stays for the next round
        QCOMPARE(parser.next(buffer).event, Event::NeedMore);
    }

    void connectionPersistence_data() {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<bool>("keepAlive");
        QTest::newRow("1.1 default") << QByteArray("GET / HTTP/1.1\r\n\r\n") << true;
        QTest::newRow("1.1 close") << QByteArray("GET / HTTP/1.1\r\nConnection: Keep-Alive, Close\r\n\r\n") << false;
        QTest::newRow("1.0 default") << QByteArray("GET / HTTP/1.0\r\n\r\n") << false;
        QTest::newRow("1.0 keep-alive") << QByteArray("GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n") << true;
    }

    void connectionPersistence() {
        QFETCH(QByteArray, head);
        QFETCH(bool, keepAlive);
        RequestParser parser;
        const QList<HttpRequest> requests = feed(parser, head, head.size());
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].keepAlive, keepAlive);
    }

    void malformedRequestsAreErrors_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        const QByteArray get = "GET / HTTP/1.1\r\n", post = "POST / HTTP/1.1\r\n";
        QTest::newRow("two words") << QByteArray("GET /\r\n\r\n") << 400;
        QTest::newRow("double space") << QByteArray("GET  / HTTP/1.1\r\n\r\n") << 400;
        QTest::newRow("bad method") << QByteArray("G(T / HTTP/1.1\r\n\r\n") << 400;
        QTest::newRow("relative target") << QByteArray("GET v1/status HTTP/1.1\r\n\r\n") << 400;
        QTest::newRow("not HTTP") << QByteArray("GET / SPDY/3.1\r\n\r\n") << 400;
        QTest::newRow("HTTP/2.0") << QByteArray("GET / HTTP/2.0\r\n\r\n") << 505;
        QTest::newRow("no colon") << get + "Host 127.0.0.1\r\n\r\n" << 400;
        QTest::newRow("space before colon") << get + "Host : x\r\n\r\n" << 400;
        QTest::newRow("folded header") << get + "A: b\r\n c\r\n\r\n" << 400;
        QTest::newRow("NUL in value") << get + QByteArray("A: b\0c\r\n\r\n", 10) << 400;
        QTest::newRow("signed length") << post + "Content-Length: +2\r\n\r\n{}" << 400;
        QTest::newRow("conflicting lengths") << post + "Content-Length: 2\r\nContent-Length: 3\r\n\r\n{}" << 400;
        QTest::newRow("huge length") << post + "Content-Length: 99999999999999999999\r\n\r\n" << 400;
        QTest::newRow("length over limit") << post + "Content-Length: 65537\r\n\r\n" << 413;
        QTest::newRow("chunked") << post + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n" << 411;
        QTest::newRow("head over limit") << get + "A: " + QByteArray(16 * 1024, 'a') + "\r\n\r\n" << 431;
        QTest::newRow("no end of head") << QByteArray(16 * 1024 + 1, 'a') << 431;
    }

    void malformedRequestsAreErrors() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        RequestParser parser;
        RequestParser::Result last;
        QVERIFY(feed(parser, bytes, 512, &last).isEmpty());
        QCOMPARE(last.event, Event::Error);
        QCOMPARE(last.status, status);
        QVERIFY(!last.message.isEmpty());
        // Once failed, the parser stays failed: the connection is not reusable.
        QByteArray more = "GET / HTTP/1.1\r\n\r\n";
        QCOMPARE(parser.next(more).event, Event::Error);
    }

    void bodyAtTheLimitIsAccepted() {
        RequestParser parser;
        const QList<HttpRequest> requests =
            feed(parser, "POST / HTTP/1.1\r\nContent-Length: 65536\r\n\r\n" + QByteArray(64 * 1024, 'x'), 1000);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].body.size(), 64 * 1024);
    }
};

QTEST_GUILESS_MAIN(SimRequestParserTest)
#include "test_sim_request_parser.moc"
