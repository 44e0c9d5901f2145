#include "vtlog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include <unistd.h>

namespace {

std::string slurp(const char* path)
{
    std::ifstream f(path);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

struct LogFiles : ::testing::Test {
    void SetUp() override
    {
        unlink(vtlog_main_writer().file);
        unlink(vtlog_thread_writer().file);
        g_bEnableLog = 0;
    }
    void TearDown() override { g_bEnableLog = 0; }
};

int g_formatted = 0;
int countFormat()
{
    ++g_formatted;
    return 7;
}

TEST_F(LogFiles, SwitchOffWritesAndFormatsNothing)
{
    g_formatted = 0;
    VT_LOG("f()", "<%ld>-Enter, n=%d", countFormat());
    VT_LOG_THREAD("g()", "<%ld>-x");
    VT_LOGW(L"h()", L"<%ld>-w");
    EXPECT_EQ(g_formatted, 0) << "arguments must not be evaluated while the switch is off";
    EXPECT_NE(access(vtlog_main_writer().file, F_OK), 0);
    EXPECT_NE(access(vtlog_thread_writer().file, F_OK), 0);
}

TEST_F(LogFiles, LineFormatAndTick)
{
    g_bEnableLog = 1;
    long before = GetTickCount();
    VT_LOG("VTQ210_OpenLCD()", "<%ld>-Enter, bOn=%d", 1);
    MyDebug("Direct()", "plain", "\n");
    VT_LOG_THREAD("Reader()", "<%ld>-Leave !");
    VT_LOGW(L"VTQ210_SaveDrawingImage()", L"<%ld>-enter, nImageTypeID=%d", 3);
    long after = GetTickCount();

    std::string main = slurp(vtlog_main_writer().file);
    long tick = 0;
    int bOn = -1;
    ASSERT_EQ(sscanf(main.c_str(), "[VTQ210_OpenLCD()]:<%ld>-Enter, bOn=%d, \n", &tick, &bOn), 2) << main;
    EXPECT_EQ(bOn, 1);
    EXPECT_GE(tick, before);
    EXPECT_LE(tick, after);
    EXPECT_NE(main.find("\n[Direct()]:plain, \n"), std::string::npos) << main;
    EXPECT_NE(main.find("[VTQ210_SaveDrawingImage()]:<"), std::string::npos) << main;
    EXPECT_NE(main.find(">-enter, nImageTypeID=3, \n"), std::string::npos) << main;

    std::string thread = slurp(vtlog_thread_writer().file);
    EXPECT_EQ(thread.rfind("[Reader()]:<", 0), 0u) << thread;
    EXPECT_NE(thread.find(">-Leave !, \n"), std::string::npos);
    EXPECT_EQ(main.find("Reader()"), std::string::npos) << "thread lines go to the thread log only";
}

TEST_F(LogFiles, LongMessagesAreCutAt255Bytes)
{
    g_bEnableLog = 1;
    std::string big(1000, 'x');
    VT_LOG("L()", "<%ld>-%s", big.c_str());
    std::string main = slurp(vtlog_main_writer().file);
    // "[L()]:" + 255 bytes of message + ", \n"
    EXPECT_EQ(main.size(), 6u + 255u + 3u);
}

TEST_F(LogFiles, ConcurrentWritersKeepLinesWhole)
{
    g_bEnableLog = 1;
    std::vector<std::thread> ts;
    for (int t = 0; t < 4; ++t)
        ts.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                VT_LOG("T()", "<%ld>-thread=%d i=%d", t, i);
        });
    for (auto& t : ts)
        t.join();
    std::istringstream in(slurp(vtlog_main_writer().file));
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) {
        int t = -1, i = -1;
        long tick;
        ASSERT_EQ(sscanf(line.c_str(), "[T()]:<%ld>-thread=%d i=%d, ", &tick, &t, &i), 3) << line;
        ++lines;
    }
    EXPECT_EQ(lines, 800);
}

} // namespace
