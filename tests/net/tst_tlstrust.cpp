// The TLS settings every mail connection starts from: the system's roots read
// once, extra authorities added to them, Qt's on-demand loading kept otherwise.
#include "net/TlsTrust.h"

#include <QtTest>

#include <future>

using namespace kestra;

class TestTlsTrust : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void systemRootsAreTheStore();
    void settingsOfAConnection();
};

void TestTlsTrust::systemRootsAreTheStore()
{
    const QList<QSslCertificate> store = QSslConfiguration::systemCaCertificates();
    if (store.isEmpty())
        QSKIP("this machine has no system trust store");
    // Asked from several receiving threads at once, every one gets the one list.
    std::vector<std::future<const QList<QSslCertificate> *>> asked;
    for (int i = 0; i < 4; ++i)
        asked.push_back(std::async(std::launch::async, [] { return &net::systemRoots(); }));
    for (auto &answer : asked)
        QCOMPARE(answer.get(), &net::systemRoots());
    QCOMPARE(net::systemRoots(), store);
}

void TestTlsTrust::settingsOfAConnection()
{
    const QSslConfiguration plain = net::mailServerTls();
    QCOMPARE(plain.peerVerifyMode(), QSslSocket::VerifyPeer);
    QCOMPARE(plain.protocol(), QSsl::TlsV1_2OrLater);
    // No list of authorities was set: Qt still loads the system's on demand.
    QCOMPARE(plain.caCertificates(), QSslConfiguration::defaultConfiguration().caCertificates());

    const QList<QSslCertificate> roots = net::systemRoots();
    if (roots.isEmpty())
        QSKIP("this machine has no system trust store");
    // Any certificate serves as the extra authority; it comes on top of the
    // system's roots, which stay.
    const QList<QSslCertificate> extra{roots.last()};
    const QSslConfiguration withExtra = net::mailServerTls(extra);
    QCOMPARE(withExtra.caCertificates(), roots + extra);
    QCOMPARE(withExtra.peerVerifyMode(), QSslSocket::VerifyPeer);
    QCOMPARE(withExtra.protocol(), QSsl::TlsV1_2OrLater);
}

QTEST_GUILESS_MAIN(TestTlsTrust)
#include "tst_tlstrust.moc"
