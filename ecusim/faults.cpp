#include "ecusim/faults.h"

#include <charconv>
#include <stdexcept>

namespace ecusim {

namespace {

std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= s.size()) {
        const std::size_t end = s.find(sep, start);
        parts.push_back(s.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return parts;
}

std::uint64_t number(std::string_view s, std::string_view rule) {
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        base = 16;
    }
    std::uint64_t v = 0;
    const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
    if (ec != std::errc() || p != s.data() + s.size() || s.empty())
        throw std::invalid_argument("fault rule '" + std::string(rule) + "': bad number '" + std::string(s) + "'");
    return v;
}

std::uint64_t bounded(std::string_view s, std::uint64_t max, std::string_view rule) {
    const std::uint64_t v = number(s, rule);
    if (v > max) throw std::invalid_argument("fault rule '" + std::string(rule) + "': value out of range");
    return v;
}

}  // namespace

bool fault_actions::any() const {
    return header_status || response_status || unplug || unplug_after || short_header || oversize ||
           garbage || mute || twice || extra || end_of_file || reread || delay_ms != 0;
}

void fault_actions::merge(const fault_actions& o) {
    if (o.header_status) header_status = o.header_status;
    if (o.response_status) response_status = o.response_status;
    if (o.replug_ms) replug_ms = o.replug_ms;
    unplug |= o.unplug;
    unplug_after |= o.unplug_after;
    short_header |= o.short_header;
    oversize |= o.oversize;
    garbage |= o.garbage;
    mute |= o.mute;
    twice |= o.twice;
    extra |= o.extra;
    end_of_file |= o.end_of_file;
    reread |= o.reread;
    if (o.truncate) truncate = o.truncate;
    delay_ms += o.delay_ms;
}

fault_plan fault_plan::parse(std::string_view spec) {
    fault_plan plan;
    for (const std::string_view rule : split(spec, ';')) {
        if (rule.empty()) continue;
        const auto fields = split(rule, ':');
        if (fields.size() < 2) throw std::invalid_argument("fault rule '" + std::string(rule) + "' has no action");
        fault_rule r;
        const std::string_view when = fields[0];
        if (when.starts_with("n=")) {
            r.ordinal = number(when.substr(2), rule);
            if (*r.ordinal == 0) throw std::invalid_argument("fault rule '" + std::string(rule) + "': commands count from 1");
        } else if (when.starts_with("code=")) {
            std::string_view c = when.substr(5);
            if (const auto hash = c.find('#'); hash != std::string_view::npos) {
                r.code_ordinal = number(c.substr(hash + 1), rule);
                if (*r.code_ordinal == 0)
                    throw std::invalid_argument("fault rule '" + std::string(rule) + "': commands count from 1");
                c = c.substr(0, hash);
            }
            r.code = std::uint8_t(bounded(c, 0xFF, rule));
        } else {
            throw std::invalid_argument("fault rule '" + std::string(rule) + "': expected n=N or code=C");
        }
        for (std::size_t i = 1; i < fields.size(); ++i) {
            const std::string_view a = fields[i];
            const auto eq = a.find('=');
            const std::string_view name = a.substr(0, eq);
            const std::string_view value = eq == std::string_view::npos ? std::string_view{} : a.substr(eq + 1);
            auto& f = r.actions;
            if (name == "status") f.header_status = std::uint16_t(bounded(value, 0xFFFF, rule));
            else if (name == "rstatus") f.response_status = std::uint32_t(bounded(value, 0xFFFFFFFF, rule));
            else if (name == "unplug") f.unplug = true;
            else if (name == "unplug_after") f.unplug_after = true;
            else if (name == "replug") f.replug_ms = unsigned(bounded(value, 3600000, rule));
            else if (name == "short") f.short_header = true;
            else if (name == "oversize") f.oversize = true;
            else if (name == "garbage") f.garbage = true;
            else if (name == "mute") f.mute = true;
            else if (name == "twice") f.twice = true;
            else if (name == "extra") f.extra = true;
            else if (name == "eof") f.end_of_file = true;
            else if (name == "reread") f.reread = true;
            else if (name == "truncate") f.truncate = std::uint16_t(bounded(value, 0xFFFF, rule));
            else if (name == "delay") f.delay_ms = unsigned(bounded(value, 3600000, rule));
            else throw std::invalid_argument("fault rule '" + std::string(rule) + "': unknown action '" + std::string(a) + "'");
        }
        plan.rules_.push_back(r);
    }
    return plan;
}

fault_actions fault_plan::match(std::uint64_t ordinal, std::uint8_t code, std::uint64_t code_ordinal) const {
    fault_actions out;
    for (const auto& r : rules_) {
        if (r.ordinal && *r.ordinal != ordinal) continue;
        if (r.code && *r.code != code) continue;
        if (r.code_ordinal && *r.code_ordinal != code_ordinal) continue;
        out.merge(r.actions);
    }
    return out;
}

}  // namespace ecusim
