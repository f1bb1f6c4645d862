#include "components/kwdreg.h"
#include "components/kwreg.h"

#include "qtsupport.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QRadioButton>
#include <QWidget>

using testsupport::ScopedEnv;
using testsupport::TempDir;

namespace {

// Three radio buttons in one parent, so checking one unchecks the others as in a window.
struct Group {
    QWidget parent;
    QRadioButton* b[3] = {new QRadioButton(&parent), new QRadioButton(&parent), new QRadioButton(&parent)};
    int checked() const {
        for (int i = 0; i < 3; ++i)
            if (b[i]->isChecked()) return i + 1;
        return 0;
    }
};

class KwStoreQtTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv registry{"MARVANE_REGISTRY_DIR", dir.path().string()};
    TKwReg KwReg1{"Marvane", "Folvio"};
    TKwDReg table;
};

}  // namespace

TEST_F(KwStoreQtTest, CheckBoxesStoreOneOrZero) {
    QCheckBox CheckBox1;
    KwReg1.PushCheckBox("DeleteFiles", &CheckBox1);
    EXPECT_EQ(KwReg1.Pop("DeleteFiles"), "0");
    CheckBox1.setChecked(true);
    KwReg1.PushCheckBox("DeleteFiles", &CheckBox1);
    EXPECT_EQ(KwReg1.Pop("DeleteFiles"), "1");
    table.PushCheckBox("DeleteFiles", &CheckBox1);
    EXPECT_EQ(table.Pop("DeleteFiles"), "1");
}

TEST_F(KwStoreQtTest, RadioButtonsStoreTheCheckedOne) {
    Group g;
    KwReg1.PushRadioButtons("Mode", g.b[0], g.b[1], g.b[2]);
    EXPECT_EQ(KwReg1.Pop("Mode"), "0");
    g.b[1]->setChecked(true);
    KwReg1.PushRadioButtons("Mode", g.b[0], g.b[1], g.b[2]);
    EXPECT_EQ(KwReg1.Pop("Mode"), "2");

    QWidget parent;
    QRadioButton* ten[10];
    for (auto& button : ten) button = new QRadioButton(&parent);
    ten[9]->setChecked(true);
    table.PushRadioButtons("Ten", ten[0], ten[1], ten[2], ten[3], ten[4], ten[5], ten[6], ten[7], ten[8], ten[9]);
    EXPECT_EQ(table.Pop("Ten"), "10");
}

TEST_F(KwStoreQtTest, PopRadioButtonsChecksTheStoredOneOrTheDefault) {
    const std::vector<std::pair<std::optional<std::string>, int>> cases = {
        {std::nullopt, 2}, {"0", 2}, {"4", 2}, {"02", 2}, {"3", 3}, {"1", 1},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto& [text, expected] = cases[i];
        SCOPED_TRACE(text.value_or("(missing)"));
        const std::string name = "Mode" + std::to_string(i);
        Group inRegistry, inTable;
        if (text) {
            KwReg1.Push(name, *text);
            table.Push(name, *text);
        }
        KwReg1.PopRadioButtons(name, inRegistry.b[0], inRegistry.b[1], inRegistry.b[2], 2);
        table.PopRadioButtons(name, inTable.b[0], inTable.b[1], inTable.b[2], 2);
        EXPECT_EQ(inRegistry.checked(), expected);
        EXPECT_EQ(inTable.checked(), expected);
    }
    Group untouched;
    untouched.b[0]->setChecked(true);
    table.Push("Mode", "x");
    table.PopRadioButtons("Mode", untouched.b[0], untouched.b[1], untouched.b[2], 0);
    EXPECT_EQ(untouched.checked(), 1);
}
