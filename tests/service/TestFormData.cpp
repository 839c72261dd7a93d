#include "FormData.h"

#include <QtTest>

using quillet::FormData;

class TestFormData : public QObject
{
    Q_OBJECT
private slots:
    void decodesClientBodies_data();
    void decodesClientBodies();
    void rejectsMalformedBodies_data();
    void rejectsMalformedBodies();
    void browserFormsTurnPlusIntoSpace();
    void prefixAloneIsNoItem();
    void flags();
};

void TestFormData::decodesClientBodies_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    const QString login = QStringLiteral("http://127.0.0.1:8790/api/v2/auth/?client_id=client&client_id=client"
                                         "&client_ver=2.2&host_id=&host_ver=&access_token=&password=a+b%25c%26d"
                                         "&text_length=0&user_name=%E5%BC%A0%E4%B8%89");
    QTest::newRow("client_id behind the URL prefix") << login << "client_id"
                                                     << "client";
    QTest::newRow("plus stays a plus, %25 and %26 decode") << login << "password"
                                                           << "a+b%c&d";
    QTest::newRow("UTF-8 escapes") << login << "user_name" << QStringLiteral("张三");
    QTest::newRow("empty value") << login << "access_token"
                                 << "";
    QTest::newRow("check body starts with ?") << "?client_id=c&client_id=c&text=%E4%BB%A5%20x"
                                              << "text" << QStringLiteral("以 x");
    QTest::newRow("first of repeated keys") << "?a=1&a=2"
                                            << "a"
                                            << "1";
    QTest::newRow("key without =") << "?client_id=c&flag&x=1"
                                   << "x"
                                   << "1";
    QTest::newRow("= inside a value") << "?client_id=c&x=a=b"
                                      << "x"
                                      << "a=b";
    QTest::newRow("absent key") << "?client_id=c"
                                << "text"
                                << "";
}

void TestFormData::decodesClientBodies()
{
    QFETCH(QString, body);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    FormData form;
    QVERIFY(form.parse(body.toStdString()));
    QCOMPARE(QString::fromStdString(form.value(key.toStdString())), expected);
}

void TestFormData::rejectsMalformedBodies_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("truncated escape") << QByteArray("?client_id=c&text=%E4%B");
    QTest::newRow("percent at the end") << QByteArray("?client_id=c&text=%");
    QTest::newRow("not hex") << QByteArray("?client_id=c&text=%G1");
    QTest::newRow("invalid UTF-8 escape") << QByteArray("?client_id=c&text=%FF%FE");
    QTest::newRow("overlong encoding") << QByteArray("?client_id=c&text=%C0%AF");
    QTest::newRow("encoded surrogate") << QByteArray("?client_id=c&text=%ED%A0%80");
    QTest::newRow("raw invalid byte") << QByteArray("?client_id=c&text=\xff");
}

void TestFormData::rejectsMalformedBodies()
{
    QFETCH(QByteArray, body);
    FormData form;
    QVERIFY(!form.parse(body.toStdString()));
    QVERIFY(form.items().empty());
}

void TestFormData::browserFormsTurnPlusIntoSpace()
{
    FormData form;
    QVERIFY(form.parse("user_name=carol+x&password=a%2Bb", true));
    QCOMPARE(form.value("user_name"), std::string("carol x"));
    QCOMPARE(form.value("password"), std::string("a+b"));
}

void TestFormData::prefixAloneIsNoItem()
{
    // Found by the form fuzzer: the bare prefix made an item with an empty key.
    FormData form;
    for (const char* body : {"?", "http://127.0.0.1:8790/api/v2/auth/?", "?&a=1"}) {
        QVERIFY(form.parse(body));
        QCOMPARE(form.has(""), false);
    }
    QCOMPARE(form.value("a"), std::string("1"));
    QCOMPARE(int(form.items().size()), 1);
}

void TestFormData::flags()
{
    FormData form;
    QVERIFY(form.parse("?client_id=c&check_tong_yin=0&check_xing_jin=1&check_skip=yes"));
    QCOMPARE(form.flag("check_tong_yin", true), false);
    QCOMPARE(form.flag("check_xing_jin", false), true);
    QCOMPARE(form.flag("check_skip", false), false);
    QCOMPARE(form.flag("check_min_gan_ci", true), true);
}

QTEST_APPLESS_MAIN(TestFormData)
#include "TestFormData.moc"
