// Every outcome has its words and its status, and names reach the user
// on one line whatever bytes they hold.
#include <gtest/gtest.h>

#include "messages.h"

namespace {

TEST(Messages, EveryOutcomeHasWordsOfItsOwn)
{
    const std::string unknown = Words(Found(Fault::kUnknownFailure));
    for (int i = static_cast<int>(Fault::kStopped) + 1; i < static_cast<int>(Fault::kUnknownFailure);
         ++i) {
        const Outcome outcome = Found(static_cast<Fault>(i), "x");
        EXPECT_NE(Words(outcome), unknown) << "fault " << i << " has no message";
        EXPECT_NE(Words(outcome).find_first_not_of(' '), std::string::npos) << i;
    }
}

TEST(Messages, NamesAreShownOnOneLine)
{
    const Outcome outcome = Found(Fault::kBusy, "/x/\033]0;T\007\n\\y");
    EXPECT_EQ(Words(outcome),
              "Another installation or removal in /x/\\033]0;T\\007\\012\\134y is under way.");
}

TEST(Messages, SpaceIsShownRoundedAgainstTheUser)
{
    Outcome outcome = Found(Fault::kNoRoom, "/d");
    outcome.needed = 1000001;
    outcome.available = 999999;
    outcome.besideEarlier = true;
    EXPECT_EQ(Words(outcome), "There is not enough free space in /d: 1.1 MB needed, 0.99 MB "
                              "available.\nWhat it holds stays until the new version is complete,"
                              "\nso there must be room for both while installing.");
}

}  // namespace
