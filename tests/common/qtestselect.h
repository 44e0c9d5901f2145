// Runs a QtTest object without the cases that only run in an invocation of
// their own, where the command line names them. A case skipped at run time
// would count as a pass instead.
#pragma once

#include <QByteArray>
#include <QMetaMethod>
#include <QObject>
#include <QSet>
#include <QTest>

#include <vector>

namespace vttest {

// Test functions of a QtTest object: private slots without arguments or result.
inline QList<QByteArray> TestFunctions(const QObject& test)
{
    static const QSet<QByteArray> kFixture = {"initTestCase", "cleanupTestCase", "init", "cleanup"};
    QList<QByteArray> names;
    const QMetaObject* meta = test.metaObject();
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod m = meta->method(i);
        if (m.methodType() == QMetaMethod::Slot && m.access() == QMetaMethod::Private && m.parameterCount() == 0 &&
            m.returnType() == QMetaType::Void && !m.name().endsWith("_data") && !kFixture.contains(m.name()))
            names << m.name();
    }
    return names;
}

// qExec with every test function but `separate`, unless the command line
// already names test functions.
inline int ExecWithout(QObject* test, int argc, char** argv, const QSet<QByteArray>& separate)
{
    const QList<QByteArray> functions = TestFunctions(*test);
    std::vector<char*> args(argv, argv + argc);
    for (int i = 1; i < argc; ++i)
        if (functions.contains(QByteArray(argv[i]).split(':').first()))
            return QTest::qExec(test, argc, argv);
    QList<QByteArray> chosen;
    for (const QByteArray& f : functions)
        if (!separate.contains(f))
            chosen << f;
    for (QByteArray& f : chosen)
        args.push_back(f.data());
    return QTest::qExec(test, int(args.size()), args.data());
}

} // namespace vttest
