#include "app/msgbox.h"

#include "apptest.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(MsgBox, ErrorTextAppendsAPeriodAfterCharactersThatSortAfterIt) {
    struct Case {
        std::string message, shown;
    };
    const std::vector<Case> cases = {
        {"User Aborted Operation", "User Aborted Operation."},
        {"Cannot open file /x/data.mvo.", "Cannot open file /x/data.mvo."},
        {"Failed to set data for 'Password'", "Failed to set data for 'Password'"},  // ' sorts before .
        {"Disk full!", "Disk full!"},
        {"Code 5", "Code 5."},
        {"Ordner \xc3\xa4", "Ordner \xc3\xa4."},  // a byte above 127 sorts after the period
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(msgbox::ErrorText(c.message), c.shown) << c.message;
}

TEST(MsgBox, GuardedShowsTheErrorBoxAndSkipsTheRest) {
    apptest::ScriptedBoxes boxes;
    bool rest = false;
    EXPECT_FALSE(msgbox::Guarded([&] {
        throw std::runtime_error("User Aborted Operation");
        rest = true;
    }));
    EXPECT_FALSE(rest);
    ASSERT_EQ(boxes.asked.size(), 1u);
    EXPECT_EQ(boxes.asked[0], (msgbox::Request{"User Aborted Operation.", "Marvane Folvio", msgbox::Buttons::Ok,
                                               msgbox::Icon::Stop}));
    EXPECT_TRUE(msgbox::Guarded([] {}));
    EXPECT_EQ(boxes.asked.size(), 1u) << "no box without an error";
}

}  // namespace
