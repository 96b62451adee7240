// Faults the virtual ECU injects on request.
//
// A plan is a list of rules separated by ';', each WHEN:ACTION[:ACTION...]
//   WHEN    n=N        the N-th command since start (1-based, all codes counted)
//           code=C     every command with code C (decimal or 0x hex)
//           code=C#K   the K-th command with code C
//   ACTION  status=S   answer with header status S (16-bit), no data
//           rstatus=S  answer normally but with S in the response's leading 32-bit status
//                      (its second word for log directory, open and read; a read keeps its place)
//           unplug     do not answer; unplug the device
//           unplug_after  answer, then unplug
//           replug=MS  plug back in MS milliseconds after a fault unplugged it
//           short      send a response header of 4 bytes only
//           oversize   announce and send 64 bytes more than the host's buffer holds
//           garbage    replace the response data by pseudo-random bytes of the same size
//           delay=MS   wait MS milliseconds before answering
//           mute       swallow the command; no answer at all (the host blocks)
//           truncate=N answer only the first N bytes of the response data
//           eof        a log read answers the end of the file (no data), however much is left
//           reread     a log read answers its bytes but keeps its place: the next read sends
//                      them again
//           twice      send the whole answer, then the same answer again
//           extra      after the answer, a stray packet: the header of the answer before it (a
//                      late answer), so a stray waits before the next answer
//           Both queue their packets with the host held (a registry host process is stopped
//           meanwhile), so that the strays are waiting before it can write its next command.
// Example: "n=3:unplug:replug=200;code=6#2:rstatus=0x71000006"
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ecusim {

struct fault_actions {
    std::optional<std::uint16_t> header_status;
    std::optional<std::uint32_t> response_status;
    bool unplug = false;
    bool unplug_after = false;
    std::optional<unsigned> replug_ms;
    bool short_header = false;
    bool oversize = false;
    bool garbage = false;
    bool mute = false;
    bool twice = false;
    bool extra = false;
    std::optional<std::uint16_t> truncate;
    bool end_of_file = false;
    bool reread = false;
    unsigned delay_ms = 0;

    bool any() const;
    void merge(const fault_actions& other);
};

struct fault_rule {
    std::optional<std::uint64_t> ordinal;      // n=N
    std::optional<std::uint8_t> code;          // code=C
    std::optional<std::uint64_t> code_ordinal;  // #K
    fault_actions actions;
};

class fault_plan {
public:
    fault_plan() = default;
    // Throws std::invalid_argument naming the rule it could not read.
    static fault_plan parse(std::string_view spec);
    void add(const fault_rule& r) { rules_.push_back(r); }
    void append(const fault_plan& other) { rules_.insert(rules_.end(), other.rules_.begin(), other.rules_.end()); }
    // Actions for a command: ordinal counts all commands, code_ordinal those of its code.
    fault_actions match(std::uint64_t ordinal, std::uint8_t code, std::uint64_t code_ordinal) const;
    bool empty() const { return rules_.empty(); }

private:
    std::vector<fault_rule> rules_;
};

}  // namespace ecusim
