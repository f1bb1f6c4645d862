// The registry of the library's non-visual components by palette page, for tools that list them.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kwregister {

struct Component {
    std::string_view Page;     // palette page, "Marvane" for the library's own components
    std::string_view Name;     // class name
    std::string_view Purpose;  // one line for a tool to show
};

// Every registered component in registration order.
std::span<const Component> Components();
// The names of the components on one page, in registration order.
std::vector<std::string> ComponentsOnPage(std::string_view page);

}  // namespace kwregister
