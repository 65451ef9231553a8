#include "ui/office_lock_name.h"

#include <gtest/gtest.h>

namespace {

TEST(OfficeLockName, IsOneForEverySpellingOfAFolderAndAnotherForAnotherFolder) {
    EXPECT_EQ(officeLockName(L"C:\\Bur\u00E9au\\Office"), officeLockName(L"c:\\BUR\u00C9AU\\office"));
    EXPECT_NE(officeLockName(L"C:\\Office"), officeLockName(L"C:\\Office 2"));
    EXPECT_NE(officeLockName(L"C:\\Office"), officeLockName(L"D:\\Office"));
}

// A copy in another user's session holds a mutex this user may not open: its
// window is on another desktop, and only the box can say why nothing happens.
TEST(DecideOfficeLockHolder, TheLockFileDecidesAndTheMutexTellsWhoHoldsIt) {
    using enum LockFileState;
    using enum LockMutexState;
    const std::tuple<LockFileState, LockMutexState, OfficeLockHolder> cases[] = {
        {Opened, Created, OfficeLockHolder::Nobody},
        {Opened, Existing, OfficeLockHolder::Nobody},
        {Opened, OtherSession, OfficeLockHolder::Nobody},
        {HeldByAnother, Existing, OfficeLockHolder::ThisComputer},
        {HeldByAnother, Created, OfficeLockHolder::Elsewhere},
        {HeldByAnother, OtherSession, OfficeLockHolder::Elsewhere},
        {NotOpened, Existing, OfficeLockHolder::ThisComputer},
        {NotOpened, OtherSession, OfficeLockHolder::Elsewhere},
        {NotOpened, Created, OfficeLockHolder::Nobody},
    };
    for (const auto& [file, mutex, holder] : cases) {
        EXPECT_EQ(decideOfficeLockHolder(file, mutex), holder)
            << static_cast<int>(file) << " " << static_cast<int>(mutex);
    }
}

}  // namespace
