#include <QLineEdit>
#include <QTabWidget>
#include <QtTest>

#include "FocusWidget.h"

class ShellFocusTest : public QObject
{
    Q_OBJECT

private slots:
    void showsEveryEnclosingTabPage()
    {
        QTabWidget outer;
        outer.addTab(new QWidget, "first");
        auto* inner = new QTabWidget;
        outer.addTab(inner, "second");
        inner->addTab(new QWidget, "inner first");
        auto* page = new QWidget;
        auto* edit = new QLineEdit(page);
        inner->addTab(page, "inner second");
        outer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&outer));
        QCOMPARE(outer.currentIndex(), 0);

        FocusWidget(edit);
        QCOMPARE(outer.currentIndex(), 1);
        QCOMPARE(inner->currentIndex(), 1);
        QTRY_VERIFY(edit->hasFocus());
    }
};

QTEST_MAIN(ShellFocusTest)
#include "tst_focus.moc"
