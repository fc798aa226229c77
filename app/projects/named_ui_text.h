// A UI text filled with one value that is shown as it is: a value containing
// the table's argument separator "#" stays one value.
#pragma once

#include <string>

namespace dovrane::app {

std::string NamedUiText(int group, unsigned item, const std::string& value);

}  // namespace dovrane::app
