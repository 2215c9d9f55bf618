#include "register/frame_listing.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool WriteFile(const QDir& dir, const QString& name, int bytes = 16)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    return file.write(QByteArray(bytes, 'x')) == bytes;
}

bool SetModified(const QDir& dir, const QString& name, const QDateTime& when)
{
    QFile file(dir.filePath(name));
    return file.open(QIODevice::ReadWrite) && file.setFileTime(when, QFileDevice::FileModificationTime);
}

} // namespace

class TestFrameListing : public QObject
{
    Q_OBJECT

private slots:
    void sortFlagsFollowKeyAndOrder_data();
    void sortFlagsFollowKeyAndOrder();
    void listsImageFilesInAnyLetterCaseOnly();
    void namesSortCaseSensitive();
    void timeOrderAscendingIsOldestFirst();
    void sizeOrderAscendingIsSmallestFirst();
    void missingFolderListsNothing();
};

void TestFrameListing::sortFlagsFollowKeyAndOrder_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("order");
    QTest::addColumn<int>("flags");
    QTest::newRow("name up") << "byName" << "orderAscendant" << int(QDir::Name);
    QTest::newRow("name down") << "byName" << "orderDescendant" << int(QDir::Name | QDir::Reversed);
    QTest::newRow("time up") << "byTime" << "orderAscendant" << int(QDir::Time | QDir::Reversed);
    QTest::newRow("time down") << "byTime" << "orderDescendant" << int(QDir::Time);
    QTest::newRow("size up") << "bySize" << "orderAscendant" << int(QDir::Size | QDir::Reversed);
    QTest::newRow("size down") << "bySize" << "orderDescendant" << int(QDir::Size);
    QTest::newRow("unknown key") << "byColour" << "orderDescendant" << int(QDir::Name | QDir::Reversed);
    QTest::newRow("unknown order") << "bySize" << "sideways" << int(QDir::Size | QDir::Reversed);
    QTest::newRow("visible text is no key") << "Time" << "Ascendant" << int(QDir::Name);
}

void TestFrameListing::sortFlagsFollowKeyAndOrder()
{
    QFETCH(QString, key);
    QFETCH(QString, order);
    QFETCH(int, flags);
    QCOMPARE(int(FrameSortFlags(key, order)), flags);
}

void TestFrameListing::listsImageFilesInAnyLetterCaseOnly()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QDir dir(tmp.path());
    for (const char* name : {"a.txt", "b.PNG", "c.Jpeg", "d.gif", "f.tif", "g.TIFF", "h.BMP",
                             "i.jpg", "j.png", "k.png.bak", "l.JPG"})
        QVERIFY(WriteFile(dir, QString::fromLatin1(name)));
    QVERIFY(dir.mkdir(QStringLiteral("e.png")));
    QVERIFY(WriteFile(QDir(dir.filePath(QStringLiteral("e.png"))), QStringLiteral("inner.png")));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("j.png")), dir.filePath(QStringLiteral("m.png"))));

    const QStringList expected = {"b.PNG", "c.Jpeg", "f.tif", "g.TIFF", "h.BMP", "i.jpg", "j.png",
                                  "l.JPG"};
    QCOMPARE(ListFrameFiles(tmp.path(), QDir::Name), expected);
}

void TestFrameListing::namesSortCaseSensitive()
{
    QTemporaryDir tmp;
    const QDir dir(tmp.path());
    for (const char* name : {"b.png", "B.png", "a.png", "C.png", "frame10.png", "frame9.png"})
        QVERIFY(WriteFile(dir, QString::fromLatin1(name)));

    const QStringList ascending = {"B.png", "C.png", "a.png", "b.png", "frame10.png", "frame9.png"};
    QCOMPARE(ListFrameFiles(tmp.path(), FrameSortFlags("byName", "orderAscendant")), ascending);
    QStringList descending = ascending;
    std::reverse(descending.begin(), descending.end());
    QCOMPARE(ListFrameFiles(tmp.path(), FrameSortFlags("byName", "orderDescendant")), descending);
}

void TestFrameListing::timeOrderAscendingIsOldestFirst()
{
    QTemporaryDir tmp;
    const QDir dir(tmp.path());
    // Name order differs from time order.
    const QDateTime base(QDate(2020, 5, 1), QTime(12, 0), Qt::UTC);
    const QStringList names = {"a.png", "b.png", "c.png", "d.png"};
    const int minutesOld[] = {10, 40, 0, 25};
    for (int i = 0; i < names.size(); ++i) {
        QVERIFY(WriteFile(dir, names[i]));
        QVERIFY(SetModified(dir, names[i], base.addSecs(-60 * minutesOld[i])));
    }

    QCOMPARE(ListFrameFiles(tmp.path(), FrameSortFlags("byTime", "orderAscendant")),
             QStringList({"b.png", "d.png", "a.png", "c.png"}));
    QCOMPARE(ListFrameFiles(tmp.path(), FrameSortFlags("byTime", "orderDescendant")),
             QStringList({"c.png", "a.png", "d.png", "b.png"}));
}

void TestFrameListing::sizeOrderAscendingIsSmallestFirst()
{
    QTemporaryDir tmp;
    const QDir dir(tmp.path());
    QVERIFY(WriteFile(dir, "a.bmp", 300));
    QVERIFY(WriteFile(dir, "b.bmp", 100));
    QVERIFY(WriteFile(dir, "c.bmp", 1000));
    QVERIFY(WriteFile(dir, "d.bmp", 10));

    QCOMPARE(ListFrameFiles(tmp.path(), FrameSortFlags("bySize", "orderAscendant")),
             QStringList({"d.bmp", "b.bmp", "a.bmp", "c.bmp"}));
    QCOMPARE(ListFrameFiles(tmp.path(), FrameSortFlags("bySize", "orderDescendant")),
             QStringList({"c.bmp", "a.bmp", "b.bmp", "d.bmp"}));
}

void TestFrameListing::missingFolderListsNothing()
{
    QTemporaryDir tmp;
    QVERIFY(ListFrameFiles(tmp.filePath(QStringLiteral("absent")), QDir::Name).isEmpty());
}

QTEST_GUILESS_MAIN(TestFrameListing)
#include "tst_frame_listing.moc"
