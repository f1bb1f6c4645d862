// The settings stores' overloads for Qt check boxes and radio buttons: each reads or sets the
// widgets' check marks and leaves the rest to the plain families.
#include "components/kwstore.h"

#include <QCheckBox>
#include <QRadioButton>

namespace kwstore {

void Base::PushCheckBox(const std::string& name, const QCheckBox* box) { PushCheckBox(name, box && box->isChecked()); }

void Base::pushButtons(const std::string& name, std::span<const QRadioButton* const> buttons) {
    std::array<bool, 10> checked{};
    for (size_t i = 0; i < buttons.size(); ++i) checked[i] = buttons[i] && buttons[i]->isChecked();
    pushChoice(name, std::span<const bool>(checked).first(buttons.size()));
}

void Base::popButtons(const std::string& name, std::span<QRadioButton* const> buttons, int defaultNumber) {
    const int k = popChoice(name, buttons.size(), defaultNumber);
    if (k > 0 && buttons[static_cast<size_t>(k) - 1]) buttons[static_cast<size_t>(k) - 1]->setChecked(true);
}

}  // namespace kwstore
