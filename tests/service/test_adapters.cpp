// The model adapters over a stand-in SDK: symbol binding, forwards and their
// argument mapping, unavailable values, text buffers, ink points and image
// events, file paths. The stand-in records every call it gets.
#include "compactjson.h"
#include "signobjmanager.h"
#include "signobjmodels.h"
#include "vtinksdk.h"

#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibrary>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include "../common/qtestselect.h"

#include <memory>

extern "C" {
struct FakeSdkConfig {
    int nPoints = 0;
    int nFailPacketAt = -1;
    int nNullTimeAt = -1;
    int nInfoResult = 0;
    unsigned char bStatus = 1;
    int nKeyStatus = -1;
    bool bFillIdBuffer = false;
    int nLiveTexts = 0;
};
}

namespace {
int resolvedCount(const SignObjAdapter& adapter)
{
    int n = 0;
    for (int ep = 0; ep < EP_COUNT; ++ep)
        n += adapter.IsResolved(static_cast<SdkEntryPoint>(ep));
    return n;
}
} // namespace

class TestAdapters : public QObject
{
    Q_OBJECT
private:
    QString m_strBinDir;
    QLibrary* m_pFake = nullptr; // keeps the stand-in loaded and reaches its state
    FakeSdkConfig* m_pConfig = nullptr;
    char* m_pLog = nullptr;

    static QString readFile(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString("<missing>");
    }

    QString takeLog()
    {
        const QString log = QString::fromUtf8(m_pLog);
        m_pLog[0] = 0;
        return log;
    }

private Q_SLOTS:
    // The C library finds an already loaded "./libvtinksdk.so" by name, in
    // any folder; cases that need another library run in a process of their
    // own (VT_ADAPTER_ISOLATED set, the case named on the command line).
    bool isolated() const { return qEnvironmentVariableIsSet("VT_ADAPTER_ISOLATED"); }

    void initTestCase()
    {
        m_strBinDir = QDir::currentPath();
        if (isolated())
            return;
        QVERIFY(QDir::setCurrent(m_strBinDir + "/fakesdk"));
        // By full path: a second handle named "./libvtinksdk.so" would be shared by Qt across folders.
        m_pFake = new QLibrary(m_strBinDir + "/fakesdk/libvtinksdk.so");
        QVERIFY2(m_pFake->load(), qPrintable(m_pFake->errorString()));
        m_pConfig = reinterpret_cast<FakeSdkConfig*>(m_pFake->resolve("g_fakeConfig"));
        m_pLog = reinterpret_cast<char*>(m_pFake->resolve("g_fakeLog"));
        QVERIFY(m_pConfig && m_pLog);
    }
    void init()
    {
        if (isolated())
            return;
        QVERIFY(QDir::setCurrent(m_strBinDir + "/fakesdk"));
        *m_pConfig = FakeSdkConfig();
        m_pLog[0] = 0;
    }
    void cleanup()
    {
        if (!isolated())
            QCOMPARE(m_pConfig->nLiveTexts, 0); // every text handed back
    }
    void cleanupTestCase()
    {
        QDir::setCurrent(m_strBinDir);
        if (!m_pFake)
            return;
        m_pFake->unload();
        delete m_pFake;
    }

    // The hand-written array text equals what Qt's compact writer makes.
    void compactJsonMatchesQt()
    {
        const QStringList values = {"", "2024-05-01 13:45:12.345", "-32768", "quote\" back\\ slash/", "\b\f\n\r\t",
                                    QString(QChar(1)) + QChar(0x1f) + QChar(0x7f), QString::fromUtf8("Zürich 東京 \xF0\x9F\x96\x8A")};
        CompactJsonArray mine;
        QJsonArray qt;
        for (const QString& value : values) {
            mine.beginObject();
            mine.member("Time", value.toUtf8().constData());
            mine.member("x", -7);
            mine.endObject();
            qt.append(QJsonObject{{"Time", value}, {"x", "-7"}});
        }
        QCOMPARE(mine.finish(), QString::fromUtf8(QJsonDocument(qt).toJson(QJsonDocument::Compact)));
        QCOMPARE(CompactJsonArray().finish(), QString("[]"));
    }

    void creationTable()
    {
        const int ids[] = {0, 1, 2, 3, 4, 5, 6, 7, 8};
        const char* const classes[] = {nullptr, nullptr, "SignObjQ210", "SignObjQT410", "SignObjM420", "SignObjQ220",
                                       nullptr, "SignObjQ230F", nullptr};
        for (int id : ids) {
            std::unique_ptr<SignObjInterface> obj(SignObjManager::CreateSignObj(id));
            auto* adapter = dynamic_cast<SignObjAdapter*>(obj.get());
            QCOMPARE(adapter ? adapter->Traits().pszClassName : nullptr, classes[id]);
            if (adapter)
                QCOMPARE(adapter->Traits().nDeviceType, id);
        }
        QVERIFY(dynamic_cast<SignObjQ230F*>(std::unique_ptr<SignObjInterface>(SignObjManager::CreateSignObj(7)).get()));
    }

    void forwardsWithDeviceTypeAndMapping()
    {
        SignObjQ210 q210;
        QVERIFY(q210.IsLoaded());
        QCOMPARE(resolvedCount(q210), 31);
        QCOMPARE(QString::fromStdString(q210.PfnName(EP_SetPenWidth)), QString("m_pfn_VTQ210_SetPenWidth"));
        QVERIFY(q210.LoadDIVuziDadSDK()); // reloading replaces the handle

        QVERIFY(q210.InitialDevice(2, 400, 200));
        q210.SetPenWidth(3);
        q210.SetPenStyle(false);
        q210.SetPenColor(1, 2, 3);
        q210.OpenLCD();
        q210.CloseLCD();
        q210.DisplayDeviceInfoInLCD(true);
        q210.Clear();
        q210.SetClip(0, 0);
        q210.SetClip(-1, 10);
        q210.SetClip(10, -1);
        q210.SetClip(0, 5);
        q210.SetClip(12, 7);
        QVERIFY(q210.UnInitialDevice());
        // An open pad's ids are read once, for the evidence records.
        QCOMPARE(takeLog(), QString("VTQ210_InitialDevice(2,(nil),0,0,400,200);"
                                    "VTQ210_GetHWPadID(2,32);VTQ210_GetHWPenID(2,32);VTQ210_GetHWVersionID(2,32);"
                                    "VTQ210_SetPenWidth(2,3);VTQ210_SetPenStyle(2,0);"
                                    "VTQ210_SetPenColor(2,1,2,3);VTQ210_OpenLCD(2,1);VTQ210_OpenLCD(2,0);"
                                    "VTQ210_DisplayHWVersion(2,1);VTQ210_Clear(2);VTQ210_SetSaveCenterImageClip(2,0,0,0);"
                                    "VTQ210_SetSaveCenterImageClip(2,1,0,5);VTQ210_SetSaveCenterImageClip(2,1,12,7);"
                                    "VTQ210_UnInitialDevice(2);"));
    }

    void textBuffers()
    {
        SignObjQ210 q210;
        QCOMPARE(q210.PadID(), QString("VTQ210_GetHWPadID-text"));
        QCOMPARE(q210.PenID(), QString("VTQ210_GetHWPenID-text"));
        QCOMPARE(q210.VersionID(), QString("VTQ210_GetHWVersionID-text"));
        QCOMPARE(takeLog(), QString("VTQ210_GetHWPadID(2,32);VTQ210_GetHWPenID(2,32);VTQ210_GetHWVersionID(2,32);"));
        // A buffer filled to the end without a terminator is read to its end only.
        m_pConfig->bFillIdBuffer = true;
        QCOMPARE(q210.PadID(), QString(32, QChar('A')));
        QCOMPARE(q210.GetAboutInfo(), QString("About\n\nfake"));
    }

    void isValid()
    {
        SignObjQ210 q210;
        QVERIFY(q210.IsValid());
        m_pConfig->bStatus = 0;
        QVERIFY(!q210.IsValid());
        m_pConfig->bStatus = 1;
        m_pConfig->nInfoResult = ARI_FAILED; // failed call, flag set anyway
        QVERIFY(!q210.IsValid());
    }

    void keyStatusPassesThrough()
    {
        SignObjQ210 q210;
        QCOMPARE(q210.GetDeviceConfirmOrCancelKeyStatus(), -1);
        m_pConfig->nKeyStatus = 0;
        QCOMPARE(q210.GetDeviceConfirmOrCancelKeyStatus(), 0);
        m_pConfig->nKeyStatus = 1;
        QCOMPARE(q210.GetDeviceConfirmOrCancelKeyStatus(), 1);
    }

    void pointerSkipsUndeliveredPoints()
    {
        SignObjQ210 q210;
        QCOMPARE(q210.GetPointer(), QString("[]"));
        QCOMPARE(q210.GetSize(), 0); // the SDK's "no data" code is no ink, not a count
        m_pConfig->nPoints = 4;
        m_pConfig->nFailPacketAt = 1;
        m_pConfig->nNullTimeAt = 2;
        QCOMPARE(q210.GetSize(), 4);
        QCOMPARE(q210.GetPointer(),
                 QString("[{\"Time\":\"2024-05-01 13:45:12.100\",\"bStrokeEnd\":\"0\",\"pressure\":\"100\",\"x\":\"0\",\"y\":\"-3\"},"
                         "{\"Time\":\"2024-05-01 13:45:12.103\",\"bStrokeEnd\":\"1\",\"pressure\":\"103\",\"x\":\"30\",\"y\":\"0\"}]"));
    }

    void imageEventsReportedOncePerChange()
    {
        SignObjQ210 q210;
        QCOMPARE(q210.GetInks(), QString("")); // no ink: null from the SDK
        m_pConfig->nPoints = 2;
        const QString png = "[{\"EventType\":\"0\",\"Image\":\"IMG3-2\",\"ImageLength\":\"6\"}]";
        QCOMPARE(q210.GetInks(), png);
        QCOMPARE(q210.GetInks(), QString(""));
        q210.Clear(); // does not forget the last image
        QCOMPARE(q210.GetInks(), QString(""));
        QCOMPARE(q210.GetOpaqueInks(), QString("[{\"EventType\":\"0\",\"Image\":\"EX3-2\",\"ImageLength\":\"5\"}]"));
        QCOMPARE(q210.GetOpaqueInks(), QString(""));
        QCOMPARE(q210.WPSGetInks(), QString("[{\"EventType\":\"0\",\"Image\":\"EX2-2\",\"ImageLength\":\"5\"}]"));
        QCOMPARE(q210.GetInks(), png);
        m_pConfig->nPoints = 3;
        QCOMPARE(q210.GetInks(), QString("[{\"EventType\":\"0\",\"Image\":\"IMG3-3\",\"ImageLength\":\"6\"}]"));
        QCOMPARE(q210.Encode(6), QString("IMG6-3"));
        QCOMPARE(q210.Encode(6), QString("IMG6-3")); // plain text, no last-image rule
        QCOMPARE(q210.GetSVGImageBase64Data(), QString("SVG"));
        QCOMPARE(q210.GetFingerPrintImage(true), QString("")); // not a fingerprint model
    }

    void deviceInfoOutsideRangeMakesNoCall()
    {
        SignObjQ210 q210;
        QCOMPARE(q210.GetDeviceInfo(0), QString(""));
        QCOMPARE(q210.GetDeviceInfo(8), QString(""));
        QCOMPARE(takeLog(), QString(""));
        QCOMPARE(q210.GetDeviceInfo(1), QString("true"));
        QCOMPARE(q210.GetDeviceInfo(7), QString("0.0"));
    }

    void tabletHasNoScreenCommands()
    {
        SignObjQT410 qt410;
        QCOMPARE(resolvedCount(qt410), 28);
        QCOMPARE(qt410.PenID(), QString(""));
        qt410.OpenLCD();
        qt410.CloseLCD();
        qt410.DisplayDeviceInfoInLCD(true);
        QCOMPARE(takeLog(), QString(""));
        qt410.SetPenWidth(4);
        QCOMPARE(qt410.PadID(), QString("RUVU410_GetHWPadID-text"));
        QCOMPARE(takeLog(), QString("RUVU410_SetPenWidth(3,4);RUVU410_GetHWPadID(3,32);"));
    }

    // The name rules: a bare name goes to /tmp/, a path is used as given;
    // the SDK writes a fresh file in the same folder, with the same suffix,
    // which then takes the name.
    void saveAndDecodePaths()
    {
        const QString tag = QString("vtadapt-%1").arg(QCoreApplication::applicationPid());
        QTemporaryDir home;
        const auto removeFiles = qScopeGuard([&] {
            QDir("/tmp/" + tag).removeRecursively();
            QFile::remove("/tmp/" + tag + "-a.png");
            QFile::remove("/tmp/" + tag + "-x.png");
            QFile::remove("/tmp/..name.png");
        });
        QVERIFY(QDir().mkpath(m_strBinDir + "/fakesdk/sub") && QDir("/tmp").mkpath(tag));
        const QString bare = tag + "-a.png";
        SignObjQ210 q210;
        QCOMPARE(q210.SaveDrawImage(3, 0, bare), QString("-8"));
        m_pConfig->nPoints = 1;
        QCOMPARE(q210.SaveDrawImage(3, 0, bare), "/tmp/" + bare);
        QCOMPARE(q210.SaveDrawImage(3, 1, home.path() + "/a.png"), home.path() + "/a.png");
        QCOMPARE(q210.SaveDrawImage(1, 0, "sub/a.bmp"), QString("sub/a.bmp"));
        const QStringList saves = takeLog().split(';', Qt::SkipEmptyParts);
        QCOMPARE(saves.size(), 4);
        const char* const wants[][3] = {{"3", "a\\.png", "0"}, {"3", "a\\.png", "0"}, {"3", "a\\.png", "1"}, {"1", "a\\.bmp", "0"}};
        for (int i = 0; i < 4; ++i) {
            const QRegularExpression rx(QString("^VTQ210_SaveDrawingImage\\(2,%1,/proc/self/fd/\\d+/\\.(%2-)?%3-\\w{8}\\.%4,%5\\)$")
                                            .arg(wants[i][0], i < 2 ? tag : QString("x{0}"), wants[i][1],
                                                 QString(wants[i][1]).right(3), wants[i][2]));
            QVERIFY2(rx.match(saves[i]).hasMatch(), qPrintable(saves[i]));
        }
        for (const QString& f : {"/tmp/" + bare, home.path() + "/a.png"})
            QCOMPARE(readFile(f), QString("saved type 3"));
        QCOMPARE(readFile(m_strBinDir + "/fakesdk/sub/a.bmp"), QString("saved type 1"));
        QCOMPARE(QDir(home.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"a.png"})); // no fresh file left

        QCOMPARE(q210.GetDecodeFilePath(), QString(""));
        QCOMPARE(q210.Decode(3, tag + "-x.png", "QUJD"), QString(""));
        QCOMPARE(q210.GetDecodeFilePath(), "/tmp/" + tag + "-x.png");
        QCOMPARE(readFile("/tmp/" + tag + "-x.png"), QString("decoded QUJD"));
        QCOMPARE(q210.Decode(3, "/" + tag + "/b.png", "QUJD"), QString(""));
        QCOMPARE(q210.GetDecodeFilePath(), "/tmp//" + tag + "/b.png");
        QCOMPARE(readFile("/tmp/" + tag + "/b.png"), QString("decoded QUJD"));
        QCOMPARE(q210.Decode(3, "..name.png", "QUJD"), QString(""));
        QCOMPARE(q210.GetDecodeFilePath(), QString("/tmp/..name.png"));
        const QStringList decodes = takeLog().split(';', Qt::SkipEmptyParts);
        QCOMPARE(decodes.size(), 3);
        for (const QString& d : decodes)
            QVERIFY2(QRegularExpression("^VTQ210_Base64Decode\\(2,3,QUJD,/proc/self/fd/\\d+/\\..+\\.png\\)$").match(d).hasMatch(),
                     qPrintable(d));
        // Paths that would leave /tmp/ are refused: nothing written, path kept.
        for (const char* path : {"../../home/user/.profile", "a/../../etc/x", "..", "/..//x", "a/.."}) {
            QCOMPARE(q210.Decode(3, path, "QUJD"), QString(""));
            QCOMPARE(q210.GetDecodeFilePath(), QString("/tmp/..name.png"));
        }
        QCOMPARE(takeLog(), QString(""));

        QCOMPARE(q210.Decode(6, "", "INK"), QString("[{\"bStrokeEnd\":\"0\",\"x\":\"100\",\"y\":\"200\"},"
                                                    "{\"bStrokeEnd\":\"1\",\"x\":\"101\",\"y\":\"201\"}]"));
        QCOMPARE(q210.GetDecodeFilePath(), QString("/tmp/"));
        QCOMPARE(takeLog(), QString("VTQ210_Base64Decode(2,6,INK,/tmp/);"));
    }

    // Files named by a page: the suffix must fit the type, no "..", no NUL,
    // a link planted at the name is replaced rather than written through,
    // and under /tmp/ no folder on the way may be a link. Refusals answer
    // "-8" (Decode: nothing, and its path stays) and write nothing.
    void fileWriteRules()
    {
        const QString tag = QString("vtrules-%1").arg(QCoreApplication::applicationPid());
        const QString tmp = "/tmp/" + tag;
        // Not under /tmp/: the build folder, or /var/tmp/ for a build under /tmp/.
        const QString outside = (m_strBinDir.startsWith("/tmp/") ? QString("/var/tmp") : m_strBinDir) + "/" + tag;
        QTemporaryDir victimDir(m_strBinDir + "/victim-XXXXXX");
        const QString victim = victimDir.path() + "/precious.txt";
        const auto removeDirs = qScopeGuard([&] {
            QDir(tmp).removeRecursively();
            QDir(outside).removeRecursively();
        });
        for (const QString& d : {tmp, outside})
            QVERIFY(QDir().mkpath(d));
        auto write = [](const QString& path, const QByteArray& bytes) {
            QFile f(path);
            return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
        };
        QVERIFY(write(victim, "keep me"));
        QVERIFY(write(tmp + "/notes.txt", "my notes"));
        SignObjQ210 q210;
        m_pConfig->nPoints = 1;

        struct Case { int nType; QString path; bool bSaved; };
        const Case cases[] = {
            {8, tmp + "/notes.txt", false}, {7, tmp + "/notes.txt", false}, {3, tmp + "/a.txt", false},
            {7, tmp + "/a.svg", false},     {8, tmp + "/a.pdf", false},     {1, tmp + "/noext", false},
            {3, tmp + "/", false},          {2, tmp + "/../" + tag + "/a.jpg", false},
            {3, "../" + tag + "/a.png", false}, {3, tmp + "/a" + QChar(0) + ".png", false},
            {8, tmp + "/a.SVG", true},      {7, tmp + "/a.pdf", true},      {1, tmp + "/a.jpeg", true},
            {2, tmp + "/b.png", true},      {3, tmp + "/c.bmp", true},      {1, tmp + "/./d.jpg", true},
        };
        for (const Case& c : cases) {
            const QString result = q210.SaveDrawImage(c.nType, 0, c.path);
            QCOMPARE(result, c.bSaved ? c.path : QString("-8"));
            QCOMPARE(takeLog().isEmpty(), !c.bSaved); // refused before the SDK was asked
            if (c.bSaved)
                QCOMPARE(readFile(c.path), QString("saved type %1").arg(c.nType));
        }
        QCOMPARE(readFile(tmp + "/notes.txt"), QString("my notes"));
        QVERIFY(!QFile::exists(tmp + "/a.txt") && !QFile::exists(tmp + "/a"));

        // A link planted at the name, in /tmp/ and elsewhere: replaced.
        for (const QString& dir : {tmp, outside}) {
            QVERIFY(QFile::link(victim, dir + "/link.png"));
            QCOMPARE(q210.SaveDrawImage(3, 0, dir + "/link.png"), dir + "/link.png");
            QVERIFY(!QFileInfo(dir + "/link.png").isSymLink());
            QCOMPARE(readFile(dir + "/link.png"), QString("saved type 3"));
            QCOMPARE(readFile(victim), QString("keep me"));
        }
        QVERIFY(QFile::link(victim, tmp + "/dlink.png"));
        QCOMPARE(q210.Decode(3, tag + "/dlink.png", "QUJD"), QString(""));
        QCOMPARE(q210.GetDecodeFilePath(), tmp + "/dlink.png");
        QCOMPARE(readFile(tmp + "/dlink.png"), QString("decoded QUJD"));
        QCOMPARE(readFile(victim), QString("keep me"));
        takeLog();

        // A folder link: refused under /tmp/, followed elsewhere.
        for (const QString& dir : {tmp, outside})
            QVERIFY(QFile::link(victimDir.path(), dir + "/folder"));
        QCOMPARE(q210.SaveDrawImage(3, 0, tmp + "/folder/a.png"), QString("-8"));
        QCOMPARE(q210.Decode(3, tag + "/folder/a.png", "QUJD"), QString(""));
        QCOMPARE(q210.Decode(2, tag + "/a" + QChar(0) + ".txt", "QUJD"), QString(""));
        QCOMPARE(q210.Decode(1, tag + "/b.txt", "QUJD"), QString(""));
        QCOMPARE(q210.GetDecodeFilePath(), tmp + "/dlink.png");
        QCOMPARE(takeLog(), QString(""));
        QVERIFY(!QFile::exists(victimDir.path() + "/a.png"));
        QCOMPARE(q210.SaveDrawImage(3, 0, outside + "/folder/a.png"), outside + "/folder/a.png");
        QCOMPARE(readFile(victimDir.path() + "/a.png"), QString("saved type 3"));

        // A failed write leaves nothing behind.
        m_pConfig->nPoints = 0;
        QCOMPARE(q210.SaveDrawImage(3, 0, tmp + "/e.png"), QString("-8"));
        QCOMPARE(QDir(tmp).entryList({".*png*"}, QDir::Files | QDir::Hidden), QStringList());
        QVERIFY(!QFile::exists(tmp + "/e.png"));
    }

    // A missing symbol makes the load report failure, yet what resolved works.
    void partialResolution()
    {
        if (!isolated())
            QFAIL("runs in a process of its own");
        QVERIFY(QDir::setCurrent(m_strBinDir + "/fakesdk-noabout"));
        SignObjQ210 q210;
        QVERIFY(!q210.LoadDIVuziDadSDK());
        QVERIFY(!q210.IsResolved(EP_AboutBox));
        QCOMPARE(resolvedCount(q210), 30);
        QVERIFY(q210.InitialDevice(2, 10, 10));
        QCOMPARE(q210.PadID(), QString("VTQ210_GetHWPadID-text"));
        QCOMPARE(q210.GetPointer(), QString("[]"));
        QVERIFY(q210.UnInitialDevice());
    }

    void missingLibrary()
    {
        if (!isolated())
            QFAIL("runs in a process of its own");
        QDir(m_strBinDir).mkpath("nosdk");
        QVERIFY(QDir::setCurrent(m_strBinDir + "/nosdk"));
        SignObjManager mgr;
        QVERIFY(!mgr.InitialDevice(2, 400, 200));
        QVERIFY(mgr.CurrentSignObj()); // held, answering as unavailable
        QCOMPARE(mgr.GetDeviceConfirmOrCancelKeyStatus(), -1);
        QCOMPARE(mgr.GetPointer(), QString("[]"));
        QCOMPARE(mgr.GetSize(), 0);
        QCOMPARE(mgr.SaveDrawImage(3, 0, "a.png"), QString(""));
        QCOMPARE(mgr.GetInks(), QString(""));
        QCOMPARE(mgr.Decode(3, "x.png", "QUJD"), QString(""));
        QCOMPARE(mgr.GetDecodeFilePath(), QString(""));
        QVERIFY(!mgr.IsValid());
        QVERIFY(!mgr.UnInitialDevice());
    }
};

// The isolated cases run only where their CTest entries name them.
int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestAdapters test;
    QTEST_SET_MAIN_SOURCE_PATH
    return vttest::ExecWithout(&test, argc, argv, {"partialResolution", "missingLibrary"});
}
#include "test_adapters.moc"
