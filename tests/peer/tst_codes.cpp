#include <QtTest>

#include "PeerMessageCode.h"

class tst_Codes : public QObject
{
    Q_OBJECT

private slots:
    void namesCodesForLogs_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("name");
        QTest::newRow("1") << 1 << "PM_SAY";
        QTest::newRow("2") << 2 << "2 (unknown)";
        QTest::newRow("52") << 52 << "PM_NOTHING";
        QTest::newRow("60") << 60 << "60 (unknown)";
        QTest::newRow("-1") << -1 << "-1 (unknown)";
    }

    void namesCodesForLogs()
    {
        QFETCH(int, code);
        QTEST(PeerMessageCode::MessageCodeToString(code), "name");
    }
};

QTEST_GUILESS_MAIN(tst_Codes)
#include "tst_codes.moc"
