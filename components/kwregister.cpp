#include "components/kwregister.h"

#include <array>

namespace kwregister {

namespace {

// One line per component. Visual controls are registered with the designer plugin instead.
constexpr std::array kComponents{
    Component{"Marvane", "TKwParser", "Expression parser: text to tree, evaluated in long double"},
    Component{"Marvane", "TKwGraphics", "Function plotter: expressions of x drawn onto a canvas"},
    Component{"Marvane", "TKwMidi", "MIDI file writer: note groups to a Standard MIDI File"},
    Component{"Marvane", "TKwHTML", "Web page access: title, text, links and images of a page"},
    Component{"Marvane", "TKwBrFolder", "Folder picker: the chosen folder's path from a folder dialog"},
    Component{"Marvane", "TKwReg", "Settings store: named text values under the program's registry key"},
    Component{"Marvane", "TKwKeey", "Password scrambler: texts encoded and decoded with a program key"},
    Component{"Marvane", "TKwDReg", "Extended settings store: a table saved to a settings file or the registry"},
};

}  // namespace

std::span<const Component> Components() { return kComponents; }

std::vector<std::string> ComponentsOnPage(std::string_view page) {
    std::vector<std::string> names;
    for (const auto& c : kComponents)
        if (c.Page == page) names.emplace_back(c.Name);
    return names;
}

}  // namespace kwregister
