// The key gate's transition table, for two-step and one-step pads.
#include "keygate.h"

#include <gtest/gtest.h>

namespace {

using S = CKeyGate::State;
using E = CKeyGate::Event;

struct Row {
    KeyModel eModel;
    S eFrom;
    E eEvent;
    S eTo;
    bool bAccepted;
};

constexpr KeyModel kTwo = KeyModel::TwoStep;
constexpr KeyModel kOne = KeyModel::OneStep;

const Row kTable[] = {
    // Pen downs go ahead unless an action is pending or running.
    {kTwo, S::None, E::PenDown, S::None, true},
    {kTwo, S::Touched, E::PenDown, S::Touched, true},
    {kTwo, S::Pending, E::PenDown, S::Pending, false},
    {kOne, S::Running, E::PenDown, S::Running, false},
    // A key waits for the lift on two-step pads, counts at once on one-step ones.
    {kTwo, S::None, E::KeyTouched, S::Touched, true},
    {kOne, S::None, E::KeyTouched, S::Pending, true},
    {kTwo, S::Touched, E::KeyTouched, S::Touched, true}, // the later key replaces the first
    {kTwo, S::Pending, E::KeyTouched, S::Pending, false},
    {kOne, S::Pending, E::KeyTouched, S::Pending, false},
    {kTwo, S::Running, E::KeyTouched, S::Running, false},
    // The lift makes a touched key's action pending; otherwise it changes nothing.
    {kTwo, S::Touched, E::PenLifted, S::Pending, true},
    {kTwo, S::None, E::PenLifted, S::None, false},
    {kTwo, S::Pending, E::PenLifted, S::Pending, false},
    {kOne, S::None, E::PenLifted, S::None, false},
    {kOne, S::Pending, E::PenLifted, S::Pending, false},
    // The key-action thread runs pending actions only, once each.
    {kTwo, S::Pending, E::ActionStarts, S::Running, true},
    {kOne, S::Pending, E::ActionStarts, S::Running, true},
    {kTwo, S::None, E::ActionStarts, S::None, false},
    {kTwo, S::Touched, E::ActionStarts, S::Touched, false},
    {kTwo, S::Running, E::ActionDone, S::None, true},
    {kOne, S::Pending, E::ActionDone, S::Pending, false},
};

TEST(Keygate, TransitionTable)
{
    for (const Row& row : kTable) {
        const CKeyGate::Step step = CKeyGate::Next(row.eModel, row.eFrom, row.eEvent);
        const int i = int(&row - kTable);
        EXPECT_EQ(int(row.eTo), int(step.eNext)) << "row " << i;
        EXPECT_EQ(row.bAccepted, step.bAccepted) << "row " << i;
    }
}

} // namespace
