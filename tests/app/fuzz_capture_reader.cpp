// A capture from the field, whatever its bytes: read as far as it is whole, put together into
// exchanges and decoded field by field, as `flashdesk capture show --fields` does. Holds: no
// crash; no packet larger than the file; no exchange carrying more bytes than its link's packets.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <stdexcept>

#include "app/console/capture_exchanges.h"
#include "platform/capture/pcapng.h"
#include "protocol/wire_fields.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace pc = qx::platform::pcapng;
    pc::capture c;
    try {
        c = pc::read_bytes({data, size});
    } catch (const std::runtime_error&) {
        return 0;
    }
    std::map<std::uint32_t, std::size_t> carried;  // bytes per link
    for (const pc::packet& p : c.packets) {
        if (p.data.size() > size || p.interface >= c.interfaces.size()) std::abort();
        carried[p.interface] += p.data.size();
    }
    const qx::console::capture_reading r = qx::console::read_exchanges(c);
    for (const qx::console::captured_exchange& e : r.exchanges) {
        if (e.request.size() + e.response.size() > carried[e.link]) std::abort();
        for (const bool response : {false, true}) {
            const auto& bytes = response ? e.response : e.request;
            const auto s = qx::protocol::decode_wire(qx::console::structure_of(e.command_type, response), bytes, e.order);
            for (const auto& f : s.fields)
                if (f.value.size() > 3 * bytes.size() + 16) std::abort();
        }
    }
    return 0;
}
