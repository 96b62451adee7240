// The fields of a request or response as the ECU's bytes hold them, decoded by the catalogue:
// each leaf of the structure's layout (layout.h) under the name the description gives it,
// read in the byte order the ECU sent. Counted arrays are three fields: "NAME.element_size",
// "NAME.count" and "NAME", the elements as they lie by the layout rule, as bytes in the order
// sent. Values are text: numbers in decimal, floats as %g, bytes as "0a:1b:2c".
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "protocol/commands.h"
#include "protocol/layout.h"

namespace qx::protocol {

enum class wire_order : std::uint8_t { big, little };

struct wire_field {
    std::string name;
    std::string type;  // the leaf's type; "BYTE" and "WORD" for an array's element size and count
    std::string value;
};

struct wire_structure {
    std::string name;  // the structure; "NULL" when the command has none
    std::vector<wire_field> fields;
    std::string note;  // what could not be decoded; empty when everything was
};

// nullptr for none; the item's structure for a configuration item.
const structure_layout* layout_of(structure_ref what, std::span<const std::uint8_t> bytes);

wire_structure decode_wire(structure_ref what, std::span<const std::uint8_t> bytes, wire_order order);

// The text of bytes as decode_wire writes them.
std::string bytes_text(std::span<const std::uint8_t> bytes);

}  // namespace qx::protocol
