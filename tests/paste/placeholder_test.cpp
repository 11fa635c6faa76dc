#include <gtest/gtest.h>

#include "app/app_state.h"

// Replaced by this area's real tests.
TEST(Placeholder, SharedNumbers) { EXPECT_EQ(WM_PASTE_REQUEST, 0x8002u); }
