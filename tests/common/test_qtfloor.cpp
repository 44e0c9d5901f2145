// The floor's helpers against what they stand in for: Qt's own calls where
// the Qt at hand has them, and the standard condition variable's contract.
#include "monocond.h"
#include "qtfloor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

const char* const kFormats[] = {
    "%1 %2", "%2 %1", "%1 %3", "%1 %1 %2", "%1 %2 %3", "100% %1", "%1%", "%a %1", "%10 %9", "no marker", "",
};

TEST(QtFloor, ArgsLikeQtMultiArg)
{
    const QString a = QStringLiteral("A"), b = QStringLiteral("%1b"), c = QStringLiteral("c%2");
    for (const char* pszFormat : kFormats) {
        const QString format = QString::fromLatin1(pszFormat);
        EXPECT_EQ(VtArgs(format, {a, b}), format.arg(a, b)) << pszFormat;
        EXPECT_EQ(VtArgs(format, {a, b, c}), format.arg(a, b, c)) << pszFormat;
    }
    // A substituted marker stays as it is: one pass.
    EXPECT_EQ(VtArgs(QStringLiteral("%1-%2"), {QStringLiteral("%2"), QStringLiteral("x")}), QStringLiteral("%2-x"));
}

TEST(QtFloor, SplitLikeQtSplit)
{
    for (const char* pszText : {"", "a", "/", "//", "/a//b/", "a/b", "a//"}) {
        const QString text = QString::fromLatin1(pszText);
        EXPECT_EQ(VtSplit(text, QLatin1Char('/')), text.split(QLatin1Char('/'))) << pszText;
#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)
        const auto skipEmpty = Qt::SkipEmptyParts;
#else
        const auto skipEmpty = QString::SkipEmptyParts;
#endif
        EXPECT_EQ(VtSplit(text, QLatin1Char('/'), true), text.split(QLatin1Char('/'), skipEmpty)) << pszText;
    }
}

TEST(QtFloor, MonoCondTimesOutAfterItsDeadline)
{
    std::mutex mutex;
    VtMonoCond cond;
    std::unique_lock<std::mutex> lock(mutex);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(cond.wait_for(lock, std::chrono::milliseconds(50), [] { return false; }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    EXPECT_TRUE(lock.owns_lock());
    // A deadline already past: only the predicate is asked.
    EXPECT_TRUE(cond.wait_until(lock, start, [] { return true; }));
    EXPECT_FALSE(cond.wait_until(lock, start, [] { return false; }));
}

TEST(QtFloor, MonoCondWakesOnNotify)
{
    std::mutex mutex;
    VtMonoCond cond;
    bool bReady = false;
    std::thread other([&] {
        std::lock_guard<std::mutex> guard(mutex);
        bReady = true;
        cond.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex);
    // Long enough never to be reached on a loaded machine: the notify ends it.
    EXPECT_TRUE(cond.wait_for(lock, std::chrono::seconds(60), [&] { return bReady; }));
    lock.unlock();
    other.join();

    std::atomic<bool> bWoken{false};
    bool bGo = false;
    std::thread waiter([&] {
        std::unique_lock<std::mutex> l(mutex);
        cond.wait(l, [&] { return bGo; });
        bWoken = true;
    });
    {
        std::lock_guard<std::mutex> guard(mutex);
        bGo = true;
    }
    cond.notify_one();
    waiter.join();
    EXPECT_TRUE(bWoken);
}

} // namespace
