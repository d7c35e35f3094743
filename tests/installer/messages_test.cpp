// Every outcome has its words and its status, and names reach the user
// on one line whatever bytes they hold.
#include <gtest/gtest.h>

#include "messages.h"

#include <clocale>

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

// As the terminal will draw them: a character of the locale's encoding
// as it is, a byte that is none, or a character that does not print, in
// octal.
TEST(Messages, NamesAreShownInTheEncodingOfTheLocale)
{
    const std::string name = "/Ziel-\xc3\xa4-\xe2\x9c\x93/\xff/\xc2\x85";  // ä, ✓, NEL (a C1 control)
    ASSERT_TRUE(std::setlocale(LC_CTYPE, "C.UTF-8"));
    EXPECT_EQ(Shown(name), "/Ziel-\xc3\xa4-\xe2\x9c\x93/\\377/\\302\\205");
    std::setlocale(LC_CTYPE, "C");
    EXPECT_EQ(Shown(name), "/Ziel-\\303\\244-\\342\\234\\223/\\377/\\302\\205");
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
