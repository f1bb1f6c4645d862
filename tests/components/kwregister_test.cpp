#include "components/kwregister.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

TEST(KwRegister, ListsTheNonVisualComponentsUnderMarvaneOnce) {
    const auto names = kwregister::ComponentsOnPage("Marvane");
    for (const char* name : {"TKwParser", "TKwGraphics", "TKwMidi", "TKwHTML", "TKwBrFolder", "TKwReg", "TKwKeey", "TKwDReg"})
        EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
    for (const auto& c : kwregister::Components()) EXPECT_FALSE(c.Purpose.empty()) << c.Name;
    EXPECT_TRUE(kwregister::ComponentsOnPage("Other").empty());
}

}  // namespace
