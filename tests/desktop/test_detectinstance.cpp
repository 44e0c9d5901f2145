// Single-instance check against a scripted pgrep (output shapes) and the
// real one (counting other processes).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "../common/skipexit.h"
#include "detectsigngleinstance.h"

namespace {

// Puts a fake "pgrep" first in PATH that prints a given output and records
// its arguments.
class FakePgrep : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_oldPath = qgetenv("PATH");
        QFile script(m_dir.filePath("pgrep"));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n"
                     "printf '%s\\n' \"$*\" > \"$(dirname \"$0\")/args\"\n"
                     "cat \"$(dirname \"$0\")/output\"\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", m_dir.path().toLocal8Bit() + ":" + m_oldPath);
    }
    void TearDown() override { qputenv("PATH", m_oldPath); }

    void Output(const QByteArray& bytes)
    {
        QFile out(m_dir.filePath("output"));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
    }
    QString Args()
    {
        QFile args(m_dir.filePath("args"));
        return args.open(QIODevice::ReadOnly) ? QString::fromUtf8(args.readAll()).trimmed() : QString();
    }

    QTemporaryDir m_dir;
    QByteArray m_oldPath;
};

struct OutputCase {
    const char* name;
    QByteArray output;
    bool running;
};

TEST_F(FakePgrep, SplitsAtEveryCarriageReturnAndLineFeed)
{
    const OutputCase cases[] = {
        {"only the caller", "4242\n", false},
        {"caller and one more", "4242\n4343\n", true},
        {"CR LF line end gives an empty part more", "4242\r\n", true},
        {"CR alone is one split", "4242\r", false},
        {"CR line ends, two processes", "4242\r4343\r", true},
        {"no output", "", false},
        {"text ends at a zero byte", QByteArray("4242\n\0" "4343\n", 11), false},
    };
    for (const OutputCase& c : cases) {
        Output(c.output);
        DetectSigngleInstance detect;
        EXPECT_EQ(detect.IsProcessRunning("someprog"), c.running) << c.name;
    }
    EXPECT_EQ(Args(), "-f someprog");
}

TEST_F(FakePgrep, AsksForTheProgramsOwnFileName)
{
    Output("1\n2\n");
    DetectSigngleInstance detect;
    EXPECT_FALSE(detect.IsSingleInstance());
    EXPECT_EQ(Args(), "-f " + QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    Output("1\n");
    EXPECT_TRUE(detect.IsSingleInstance());
}

TEST(DetectSigngleInstance, MissingPgrepMeansNoOtherInstance)
{
    const QByteArray oldPath = qgetenv("PATH");
    QTemporaryDir empty;
    qputenv("PATH", empty.path().toLocal8Bit());
    DetectSigngleInstance detect;
    EXPECT_FALSE(detect.IsProcessRunning("sh"));
    EXPECT_TRUE(detect.IsSingleInstance());
    qputenv("PATH", oldPath);
}

// With the real pgrep: the caller itself is expected to match, so one
// matching process is "not running" and two are "running". Any command line
// that merely contains the name counts. Runs in an invocation of its own,
// which a missing pgrep ends as skipped.
TEST(DetectSigngleInstance, RealPgrepCountsMatchingCommandLines)
{
    if (QStandardPaths::findExecutable("pgrep").isEmpty())
        vttest::ExitSkipped("pgrep not installed");
    const QString token = QStringLiteral("vtprobe-%1-token").arg(QCoreApplication::applicationPid());
    DetectSigngleInstance detect;
    EXPECT_FALSE(detect.IsProcessRunning(token));

    QProcess first, second;
    // "; true" keeps sh alive so its command line (holding the token) stays.
    first.start("sh", {"-c", "sleep 60; true", "editor-on-" + token});
    ASSERT_TRUE(first.waitForStarted());
    EXPECT_FALSE(detect.IsProcessRunning(token));
    second.start("sh", {"-c", "sleep 60; true", token});
    ASSERT_TRUE(second.waitForStarted());
    EXPECT_TRUE(detect.IsProcessRunning(token));
    first.kill();
    second.kill();
    first.waitForFinished();
    second.waitForFinished();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
