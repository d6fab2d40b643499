#include <gtest/gtest.h>

#include "Dialog.h"

using namespace tarnwick;

TEST(WindowPlacement, CentredOnWhatItBelongsToAndKeptInsideTheWorkArea)
{
    const RECT work = {0, 0, 1280, 984};
    auto placed = [&](RECT window, RECT around) { return CenteredWindowRect(window, around, work); };
    const RECT centred = placed({0, 0, 400, 200}, work);
    EXPECT_TRUE(centred.left == 440 && centred.top == 392 && centred.right == 840 && centred.bottom == 592);
    const RECT onOwner = placed({0, 0, 400, 200}, {100, 100, 700, 500});
    EXPECT_TRUE(onOwner.left == 200 && onOwner.top == 200);
    const RECT nearEdge = placed({0, 0, 400, 200}, {1100, 900, 1300, 1000});
    EXPECT_TRUE(nearEdge.right == 1280 && nearEdge.bottom == 984) << "pushed back inside";
    const RECT tooLarge = placed({0, 0, 1400, 700}, work);
    EXPECT_TRUE(tooLarge.left == 0 && tooLarge.right == 1280 && tooLarge.bottom - tooLarge.top == 700)
        << "no wider than the work area";
}
