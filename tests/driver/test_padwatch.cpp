// The open pad going away and coming back, on every family: the reader that
// loses it reports HWET_PAD_GONE, the watcher HWET_PAD_BACK and every later
// change, with libusb's hotplug events and with the once-a-second look at
// the bus alone. A closed session reports nothing.
#include "events.h"
#include "padwatch.h"

using namespace std::chrono_literals;

namespace {

struct WatchCase {
    const char* model;  // padsim's name
    int deviceId;
    bool bProbeOnly;
};

std::string caseName(const ::testing::TestParamInfo<WatchCase>& info)
{
    return std::string(info.param.model) + (info.param.bProbeOnly ? "_probe" : "_hotplug");
}

const PenEvent kGone{0, 0, 0, HWET_PAD_GONE};
const PenEvent kBack{0, 0, 0, HWET_PAD_BACK};

class PadWatchTest : public PadTest<::testing::TestWithParam<WatchCase>> {
protected:
    void SetUp() override
    {
        PadTest::SetUp();
        PadWatch::UseProbeOnly(GetParam().bProbeOnly);
    }
    void TearDown() override
    {
        PadTest::TearDown();
        PadWatch::UseProbeOnly(false);
    }
    int open() { return VTSPDAPI_Initial(GetParam().deviceId, Events::onPen, Events::onFinger); }
    // The events that came before a stroke drawn now (the marker after those under test).
    std::vector<PenEvent> eventsBeforeStroke(padsim::Pad& p)
    {
        p.stroke({{3000, 3000, 300}});
        return Events::instance().penUntil({3000, 3000, 300, HWET_PEN_DOWN});
    }
};

TEST_P(PadWatchTest, GoneAndBackAreReportedWhileTheSessionLasts)
{
    padsim::Pad& p = plugModel(padsim::models::byName(GetParam().model));
    ASSERT_EQ(open(), VTSPDART_SUCCESS);
    ASSERT_TRUE(p.waitForPendingRead(5s, p.model().penDevice, p.model().penEndpoint));
    const int nProbes = PadWatch::Probes();

    p.unplug();
    EXPECT_EQ(Events::instance().waitPen(1), std::vector<PenEvent>({kGone}));
    p.replug();
    EXPECT_EQ(Events::instance().waitPen(2), std::vector<PenEvent>({kGone, kBack}));
    // A pad that is back and goes again is reported again.
    p.unplug();
    EXPECT_EQ(Events::instance().waitPen(3), std::vector<PenEvent>({kGone, kBack, kGone}));
    p.replug();
    EXPECT_EQ(Events::instance().waitPen(4), std::vector<PenEvent>({kGone, kBack, kGone, kBack}));
    // The bus was looked at only while the pad was away.
    EXPECT_GE(PadWatch::Probes(), nProbes + 3);
    EXPECT_EQ(VTSPDAPI_UnInitial(), VTSPDART_SUCCESS);
    Events::instance().clear();

    // Closed: the pad's comings and goings are nobody's business.
    p.unplug();
    p.replug();
    ASSERT_EQ(open(), VTSPDART_SUCCESS);
    ASSERT_TRUE(p.waitForPendingRead(5s, p.model().penDevice, p.model().penEndpoint));
    EXPECT_EQ(eventsBeforeStroke(p), std::vector<PenEvent>());
    // Nor does a shutdown with the pad attached count as a loss.
    const int nAttached = PadWatch::Probes();
    EXPECT_EQ(VTSPDAPI_UnInitial(), VTSPDART_SUCCESS);
    Events::instance().clear();
    ASSERT_EQ(open(), VTSPDART_SUCCESS);
    ASSERT_TRUE(p.waitForPendingRead(5s, p.model().penDevice, p.model().penEndpoint));
    EXPECT_EQ(eventsBeforeStroke(p), std::vector<PenEvent>());
    EXPECT_EQ(PadWatch::Probes(), nAttached);  // the watcher slept all along
}

INSTANTIATE_TEST_SUITE_P(Families, PadWatchTest,
                         ::testing::Values(WatchCase{"q210", VTQ210_DEVICE, false},
                                           WatchCase{"q210", VTQ210_DEVICE, true},
                                           WatchCase{"q230g", VTQ230F_DEVICE, false},
                                           WatchCase{"qt410", RUVU410_DEVICE, false},
                                           WatchCase{"m420", ROV420_DEVICE, true}),
                         caseName);

}  // namespace
