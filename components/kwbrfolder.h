// TKwBrFolder: asks the user for a folder in a folder dialog and returns the folder's path.
#pragma once

#include <functional>
#include <string>

class QWidget;

// On this platform the root folder comes back as "/": there are no drive letters to cut.
class TKwBrFolder {
public:
    // What replaces the dialog when set (tests script it); it gets Execute's arguments.
    using Dialog = std::function<std::string(const std::string& initial, const std::string& title, QWidget* owner)>;
    Dialog Chooser;

    // Shows a modal folder dialog with the title, owned by owner, with `initial` shown selected
    // (nothing is selected for "" or a folder that does not exist). Returns the chosen folder's
    // full path without a trailing "/" (the root is "/"), or "" when the user cancels.
    std::string Execute(const std::string& initial, const std::string& title, QWidget* owner);
};
