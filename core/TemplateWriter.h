#pragma once
// Template INI text for a generated template.
#include <string>
#include <vector>

#include "core/SceneGenerator.h"

namespace quirlon::core {

// Each of HeaderNotes as a comment line, the [Image] section, ProductSection as given (a
// [Product] section, or "" for none), then every layer after a comment line with its note:
// type, source (left out when it is "unknown"), corners A to D. Lines end in "\n"; a blank line
// stands between sections.
std::string TemplateText(const TGeneratedTemplate& Template, const std::vector<std::string>& HeaderNotes,
                         const std::string& ProductSection);

}  // namespace quirlon::core
