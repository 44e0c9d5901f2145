// What the driver hands to its callbacks, collected for the tests: pen and
// key events, fingerprint captures. Every wait has a deadline.
#pragma once

#include "../common/timescale.h"
#include "families.h"
#include "padsim.h"
#include "vtinkdrv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

struct PenEvent {
    int x, y, p, type;
    bool operator==(const PenEvent& o) const { return x == o.x && y == o.y && p == o.p && type == o.type; }
};

inline std::ostream& operator<<(std::ostream& os, const PenEvent& e)
{
    return os << "{" << e.x << "," << e.y << "," << e.p << ", type " << e.type << "}";
}

struct Capture {
    std::vector<unsigned char> image;
    int size;
    int score;
};

class Events {
public:
    static Events& instance()
    {
        static Events e;
        return e;
    }
    static void onPen(int x, int y, int p, int type)
    {
        Events& e = instance();
        std::lock_guard<std::mutex> g(e.m_lock);
        e.m_pen.push_back({x, y, p, type});
        e.m_changed.notify_all();
    }
    static void onFinger(unsigned char* image, int size, int score)
    {
        Events& e = instance();
        std::lock_guard<std::mutex> g(e.m_lock);
        e.m_captures.push_back({std::vector<unsigned char>(image, image + (size > 0 ? size : 0)), size, score});
        e.m_changed.notify_all();
    }

    void clear()
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_pen.clear();
        m_captures.clear();
    }
    // Waits until at least n pen events arrived; returns all of them.
    std::vector<PenEvent> waitPen(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock<std::mutex> lk(m_lock);
        m_changed.wait_for(lk, vttest::Scaled(timeout), [&] { return m_pen.size() >= n; });
        return m_pen;
    }
    // Waits for an event equal to `last` (a marker sent after the reports
    // under test) and returns everything before it.
    std::vector<PenEvent> penUntil(const PenEvent& last, std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock<std::mutex> lk(m_lock);
        bool seen = m_changed.wait_for(lk, vttest::Scaled(timeout), [&] {
            for (auto& e : m_pen)
                if (e == last)
                    return true;
            return false;
        });
        EXPECT_TRUE(seen) << "marker event " << last << " never arrived";
        std::vector<PenEvent> before;
        for (auto& e : m_pen) {
            if (e == last)
                break;
            before.push_back(e);
        }
        return before;
    }
    std::vector<Capture> waitCaptures(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        std::unique_lock<std::mutex> lk(m_lock);
        m_changed.wait_for(lk, vttest::Scaled(timeout), [&] { return m_captures.size() >= n; });
        return m_captures;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<PenEvent> m_pen;
    std::vector<Capture> m_captures;
};

// Polls a condition until it holds or the deadline passes.
inline bool eventually(const std::function<bool()>& cond, std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    auto deadline = std::chrono::steady_clock::now() + vttest::Scaled(timeout);
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return cond();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // poll interval
    }
    return true;
}

// The process's testbed, created before the driver's first libusb_init.
inline padsim::Bed& bed()
{
    static padsim::Bed b;
    return b;
}

// A test that plugs pads: events cleared at the start; the driver closed and
// the test's pads unplugged at the end.
template <class Base>
class PadTest : public Base {
protected:
    void SetUp() override
    {
        bed();
        Events::instance().clear();
    }
    void TearDown() override
    {
        if (g_nCurrentActiveDeviceID)
            VTSPDAPI_UnInitial();
        for (padsim::Pad* p : m_pads)
            p->unplug();
    }
    padsim::Pad& plugModel(padsim::ModelPtr model)
    {
        m_pads.push_back(&bed().plug(std::move(model)));
        return *m_pads.back();
    }
    padsim::Pad& pad() { return *m_pads.back(); }

    std::vector<padsim::Pad*> m_pads;
};
