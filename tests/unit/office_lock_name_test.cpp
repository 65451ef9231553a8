#include "ui/office_lock_name.h"

#include <gtest/gtest.h>

namespace {

TEST(OfficeLockName, IsOneForEverySpellingOfAFolderAndAnotherForAnotherFolder) {
    EXPECT_EQ(officeLockName(L"C:\\Bur\u00E9au\\Office"), officeLockName(L"c:\\BUR\u00C9AU\\office"));
    EXPECT_NE(officeLockName(L"C:\\Office"), officeLockName(L"C:\\Office 2"));
    EXPECT_NE(officeLockName(L"C:\\Office"), officeLockName(L"D:\\Office"));
}

}  // namespace
