// Every JSON text flashdesk prints goes through here. Texts from packages and ECUs need not be
// UTF-8 (an author written in Windows-1252, a damaged serial number): each byte that does not
// belong to a valid UTF-8 sequence is written as the character of the same value, U+0080 to
// U+00FF (the byte read as Latin-1), so the output is always valid JSON.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace qx::console {

// `text` as valid UTF-8 by the rule above; valid UTF-8 stays as it is.
std::string utf8_or_latin1(std::string_view text);

// `j` dumped with `indent`, every string (keys included) passed through utf8_or_latin1.
std::string json_text(const nlohmann::ordered_json& j, int indent = 2);

}  // namespace qx::console
