// Single-instance check against a scripted pgrep (output shapes) and the
// real one (which processes count as another instance).
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

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

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

// A second process of this very program, live (blocked until killed) or a
// zombie (ended, not reaped).
class Copy
{
public:
    explicit Copy(bool bLive)
    {
        m_pid = ::fork();
        if (m_pid == 0) {
            if (bLive)
                for (;;)
                    ::pause();
            ::_exit(0);
        }
        if (!bLive) // wait until it has ended, unreaped
            for (int i = 0; i < 2000 && State() != 'Z'; ++i)
                ::usleep(1000);
    }
    ~Copy()
    {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    char State() const
    {
        QFile stat(QString("/proc/%1/stat").arg(m_pid));
        if (!stat.open(QIODevice::ReadOnly))
            return '?';
        const QByteArray text = stat.readAll();
        return text.at(text.lastIndexOf(") ") + 2);
    }
    QByteArray Pid() const { return QByteArray::number(m_pid); }

private:
    pid_t m_pid;
};

QByteArray OwnPid()
{
    return QByteArray::number(QCoreApplication::applicationPid());
}

// pgrep's output is read line by line whatever the line ends; each process
// counts only when it is a live process of this program other than the
// caller.
TEST_F(FakePgrep, CountsLiveCopiesOfThisProgramOnly)
{
    Copy live(true), zombie(false);
    ASSERT_EQ('Z', zombie.State());
    QProcess sleeper;
    sleeper.start("sleep", {"60"});
    ASSERT_TRUE(sleeper.waitForStarted());
    const QByteArray self = OwnPid(), other = live.Pid(), dead = zombie.Pid(),
                     foreign = QByteArray::number(sleeper.processId());
    struct OutputCase {
        const char* name;
        QByteArray output;
        bool running;
    };
    const OutputCase cases[] = {
        {"only the caller", self + "\n", false},
        {"caller and a live copy", self + "\n" + other + "\n", true},
        {"CR LF line ends", self + "\r\n" + other + "\r\n", true},
        {"CR LF: the empty part is no process", self + "\r\n", false},
        {"CR alone ends a line", other + "\r", true},
        {"CR line ends, two processes", self + "\r" + other + "\r", true},
        {"no output", "", false},
        {"text ends at a zero byte", self + "\n" + QByteArray(1, '\0') + other + "\n", false},
        {"a zombie", self + "\n" + dead + "\n", false},
        {"another program", foreign + "\n", false},
        {"a process that has ended", "999999999\n", false},
        {"not a number", "vtinkhost\n", false},
    };
    for (const OutputCase& c : cases) {
        Output(c.output);
        DetectSigngleInstance detect;
        EXPECT_EQ(detect.IsProcessRunning("someprog"), c.running) << c.name;
    }
    EXPECT_EQ(Args(), "-x someprog");
    sleeper.kill();
    sleeper.waitForFinished();
}

TEST_F(FakePgrep, AsksForTheProgramsProcessName)
{
    Copy live(true);
    Output(OwnPid() + "\n" + live.Pid() + "\n");
    DetectSigngleInstance detect;
    EXPECT_FALSE(detect.IsSingleInstance());
    // The kernel keeps 15 bytes of a process name.
    EXPECT_EQ(Args(), "-x " + QFileInfo(QCoreApplication::applicationFilePath()).fileName().left(15));
    Output(OwnPid() + "\n");
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

// With the real pgrep: a process whose command line merely holds the name,
// even as its first word, is not an instance; a zombie copy is not either;
// a live copy of this program is.
TEST(DetectSigngleInstance, RealPgrepCountsOnlyLiveCopies)
{
    if (QStandardPaths::findExecutable("pgrep").isEmpty())
        vttest::ExitSkipped("pgrep not installed");
    const QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    DetectSigngleInstance detect;
    EXPECT_TRUE(detect.IsSingleInstance());

    QProcess mention, named;
    // "; true" keeps sh alive so its command line (holding the name) stays.
    mention.start("sh", {"-c", "sleep 60; true", "editor-on-" + name});
    named.start("bash", {"-c", "exec -a " + name + " sleep 60"});
    ASSERT_TRUE(mention.waitForStarted() && named.waitForStarted());
    {
        Copy zombie(false);
        ASSERT_EQ('Z', zombie.State());
        EXPECT_TRUE(detect.IsSingleInstance());
    }
    {
        Copy live(true);
        EXPECT_FALSE(detect.IsSingleInstance());
    }
    EXPECT_TRUE(detect.IsSingleInstance());
    mention.kill();
    named.kill();
    mention.waitForFinished();
    named.waitForFinished();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
