#include "app/launcher.h"

#include <gtest/gtest.h>

namespace {

TEST(LaunchApplication, FailsSilentlyForAMissingExecutable) {
    EXPECT_FALSE(launchApplication(L"no-such-folder\\nirva_acc.exe", L""));
}

}  // namespace
