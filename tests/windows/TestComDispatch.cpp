#include "ComDispatch.h"
#include "DispatchObject.h"

#include <QtTest>

#include <objbase.h>

// Late binding in one process: the client's Session against a server object
// whose members record what they received. Covers the argument conventions
// (declared order, missing arguments, references, texts), the DISPID cache and
// the empty results of failed calls.
class TestComDispatch : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void init();
    void cleanup();
    void argumentsArriveInDeclaredOrder_data();
    void argumentsArriveInDeclaredOrder();
    void propertiesAndOutputs();
    void membersAreLookedUpOncePerKind();
    void failuresAnswerEmpty();

private:
    DispatchObject* m_server = nullptr;
    std::vector<std::wstring> m_received; // one text per call: its arguments
    long m_value = 0;
};

void TestComDispatch::init()
{
    m_received.clear();
    m_value = 5;
    m_server = new DispatchObject;
    // Describes each argument: i<n>, b<0|1>, s<text>, o (object), - (missing).
    m_server->member(L"Echo", [this](const Args& a, VARIANT* r) {
        std::wstring seen;
        for (int i = 0; i < a.count(); ++i) {
            if (!a.at(i))
                seen += L"-";
            else if (a.at(i)->vt == VT_BOOL)
                seen += a.toBool(i).value() ? L"b1" : L"b0";
            else if (a.at(i)->vt == VT_I4)
                seen += L"i" + std::to_wstring(*a.toInt(i));
            else if (a.toString(i))
                seen += L"s" + *a.toString(i);
            else if (a.toDispatch(i))
                seen += L"o";
            seen += L" ";
        }
        m_received.push_back(seen);
        return resultString(r, seen);
    });
    m_server->member(
        L"Value", [this](const Args&, VARIANT* r) { return resultInt(r, m_value); },
        [this](const Args& a) {
            m_value = a.putValue()->lVal;
            return S_OK;
        });
    m_server->member(L"Fill", [](const Args& a, VARIANT*) {
        for (int i = 0; i < a.count(); ++i)
            a.setInt(i, 10 * (i + 1));
        return S_OK;
    });
    m_server->member(L"Self", [this](const Args&, VARIANT* r) {
        m_server->AddRef();
        return resultObject(r, m_server);
    });
    m_server->member(L"Fails", [](const Args&, VARIANT*) { return E_FAIL; });
    m_server->member(L"Nothing", [](const Args&, VARIANT*) { return S_OK; });
}

void TestComDispatch::cleanup()
{
    QCOMPARE(m_server->Release(), 0UL); // no reference leaked by the calls
    m_server = nullptr;
}

void TestComDispatch::argumentsArriveInDeclaredOrder_data()
{
    QTest::addColumn<int>("shape");
    QTest::addColumn<QString>("expected");
    QTest::newRow("integers") << 0 << "i1 i2 i3 ";
    QTest::newRow("missing in the middle and at the end") << 1 << "i7 - b1 - ";
    QTest::newRow("texts: empty, Chinese, astral") << 2 << "s sx错别字 s\U0001F600 ";
    QTest::newRow("object") << 3 << "o i-1 ";
}

void TestComDispatch::argumentsArriveInDeclaredOrder()
{
    QFETCH(int, shape);
    QFETCH(QString, expected);
    std::vector<com::Var> args;
    switch (shape) {
    case 0:
        args.push_back(com::Var::fromInt(1));
        args.push_back(com::Var::fromInt(2));
        args.push_back(com::Var::fromInt(3));
        break;
    case 1:
        args.push_back(com::Var::fromInt(7));
        args.push_back(com::Var::missing());
        args.push_back(com::Var::fromBool(true));
        args.push_back(com::Var::missing());
        break;
    case 2:
        args.push_back(com::Var::fromString(L""));
        args.push_back(com::Var::fromString(L"x错别字"));
        args.push_back(com::Var::fromString(QStringLiteral("\U0001F600").toStdWString()));
        break;
    case 3:
        args.push_back(com::Var::fromDispatch(m_server));
        args.push_back(com::Var::fromInt(-1));
        break;
    }
    com::Session session;
    const com::Var result = session.call(m_server, "Test", L"Echo", args);
    QVERIFY(session.lastCallSucceeded());
    QCOMPARE(QString::fromStdWString(result.toString().value_or(L"?")), expected);
}

void TestComDispatch::propertiesAndOutputs()
{
    com::Session session;
    QCOMPARE(session.get(m_server, "Test", L"Value").toInt(), std::optional<long>(5));
    QVERIFY(session.put(m_server, "Test", L"Value", com::Var::fromInt(496)));
    QCOMPARE(m_value, 496L);
    QCOMPARE(session.get(m_server, "Test", L"value").toInt(), std::optional<long>(496)); // names ignore case

    long a = 0, b = 0, c = 0, d = 0;
    std::vector<com::Var> outs;
    for (long* target : {&a, &b, &c, &d})
        outs.push_back(com::Var::refInt(target));
    session.call(m_server, "Test", L"Fill", outs);
    QVERIFY(session.lastCallSucceeded());
    QCOMPARE((std::vector<long>{a, b, c, d}), (std::vector<long>{10, 20, 30, 40}));

    com::Ref<IDispatch> self = session.get(m_server, "Test", L"Self").toDispatch();
    QCOMPARE(self.Get(), static_cast<IDispatch*>(m_server));
}

void TestComDispatch::membersAreLookedUpOncePerKind()
{
    com::Session session;
    for (int i = 0; i < 10; ++i)
        session.get(m_server, "Test", L"Value");
    QCOMPARE(session.counts().invokes, 10L);
    QCOMPARE(session.counts().nameLookups, 1L);
    // An unknown member is remembered as such: asked once, never invoked.
    for (int i = 0; i < 3; ++i)
        QVERIFY(session.get(m_server, "Test", L"NoSuchMember").isEmpty());
    QCOMPARE(session.counts().nameLookups, 2L);
    QCOMPARE(session.counts().invokes, 10L);
    // Another kind asks again: its DISPIDs may differ.
    session.get(m_server, "Other", L"Value");
    QCOMPARE(session.counts().nameLookups, 3L);
}

void TestComDispatch::failuresAnswerEmpty()
{
    com::Session session;
    const com::Var failed = session.call(m_server, "Test", L"Fails");
    QVERIFY(failed.isEmpty());
    QVERIFY(!session.lastCallSucceeded());
    QVERIFY(!failed.toInt() && !failed.toString() && !failed.toDispatch() && !failed.toBool());

    const com::Var nothing = session.call(m_server, "Test", L"Nothing");
    QVERIFY(session.lastCallSucceeded());
    QVERIFY(nothing.isEmpty() && !nothing.toInt());

    QVERIFY(session.call(nullptr, "Test", L"Value").isEmpty());
    QVERIFY(!session.lastCallSucceeded());
    // A text is not a number, a number not a text.
    QVERIFY(!com::Var::fromString(L"12").toBool());
    QVERIFY(!com::Var::fromInt(12).toString());
}

QTEST_GUILESS_MAIN(TestComDispatch)
#include "TestComDispatch.moc"
