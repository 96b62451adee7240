#include "ecusim/ecu_options.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "ecusim/ecu_model.h"

namespace ecusim {

namespace {

std::uint32_t hex_value(const std::string& text, const char* option, std::uint32_t max) {
    std::size_t used = 0;
    unsigned long v = 0;
    try {
        v = std::stoul(text, &used, 16);
    } catch (const std::exception&) {
        used = 0;
    }
    if (text.empty() || used != text.size() || v > max)
        throw std::invalid_argument(std::string(option) + ": not a hexadecimal value of range: " + text);
    return std::uint32_t(v);
}

bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// "REPORT.TXT" from any file name: upper case, at most 8 + 3 characters.
std::string short_name_of(const std::filesystem::path& p) {
    auto part = [](std::string s, std::size_t n) {
        std::string out;
        for (const char c : s) {
            if (out.size() == n) break;
            if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-')
                out.push_back(char(std::toupper(static_cast<unsigned char>(c))));
        }
        return out;
    };
    std::string ext = p.extension().string();
    if (!ext.empty()) ext.erase(0, 1);
    std::string name = part(p.stem().string(), 8);
    ext = part(ext, 3);
    return ext.empty() ? name : name + "." + ext;
}

// "PATH[,open][,index=N][,bad-mark=G][,blocks=N][,cfg-version=N][,channels=N]": a raw disk
// file, its header values and its faults.
raw_file raw_file_of(const std::string& spec) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (std::size_t comma; (comma = spec.find(',', from)) != std::string::npos; from = comma + 1)
        parts.push_back(spec.substr(from, comma - from));
    parts.push_back(spec.substr(from));
    raw_file f;
    f.data = read_file(parts[0]);
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const std::string& p = parts[i];
        const auto eq = p.find('=');
        const std::string key = p.substr(0, eq);
        unsigned long value = 0;
        if (eq != std::string::npos) {
            try {
                value = std::stoul(p.substr(eq + 1), nullptr, 0);
            } catch (const std::exception&) {
                throw std::invalid_argument("--raw-file: not a number: " + p);
            }
        }
        if (key == "open" && eq == std::string::npos) f.open = true;
        else if (key == "index" && eq != std::string::npos) f.file_index = std::uint32_t(value);
        else if (key == "bad-mark" && eq != std::string::npos) f.bad_mark_group = int(value);
        else if (key == "blocks" && eq != std::string::npos) f.claimed_blocks = std::uint32_t(value);
        else if (key == "cfg-version" && eq != std::string::npos) f.cfgfile_version = std::uint32_t(value);
        else if (key == "channels" && eq != std::string::npos) f.cfgfile_num_channels = std::uint32_t(value);
        else throw std::invalid_argument("--raw-file: unknown modifier: " + p);
    }
    return f;
}

}  // namespace

void add_ecu_options(CLI::App& app, ecu_options& o) {
    app.add_option("--mode", o.mode, "boot (boot loader) or app (application)")
        ->check(CLI::IsMember({"boot", "app"}));
    app.add_option("--serial", o.serial, "ECU serial number, 8 hexadecimal digits");
    app.add_option("--version", o.version, "transfer-structure version the application reports");
    app.add_option("--flash-id", o.flash_id, "flash device identifier (hexadecimal)");
    app.add_option("--flash-id-bytes", o.flash_id_bytes, "bytes of the identifier in the answer (0 to 2)")
        ->check(CLI::Range(0, 2));
    app.add_option("--firmware", o.firmware, "firmware version (hexadecimal)");
    app.add_option("--board-model", o.board_model, "board model, at most 8 characters");
    app.add_option("--max-channels", o.max_channels, "MaxNumberOfConfigurationChannels");
    app.add_option("--faults", o.faults, "fault plan, e.g. \"n=3:unplug:replug=200\"");
    app.add_option("--channel", o.channels, "extra channel NAME=VALUE (repeatable)");
    app.add_option("--without-channel", o.absent_channels, "a standard channel this ECU does not know (repeatable)");
    app.add_option("--log-file", o.log_files, "a file on the USB storage device (repeatable)");
    app.add_option("--raw-file", o.raw_files,
                   "a file on the raw log disk (repeatable): "
                   "PATH[,open][,index=N][,bad-mark=GROUP][,blocks=N][,cfg-version=N][,channels=N]");
    app.add_option("--raw-group-blocks", o.raw_group_blocks, "data blocks per group on the raw disk (1 to 7)");
    app.add_option("--log-dir", o.log_dirs, "a directory entry on the USB storage device (repeatable)");
    app.add_option("--memory", o.memory,
                   "HEXADDRESS=FILE: the file's bytes in the ECU's memory at that address (repeatable); "
                   "memory not given reads 0xFF");
    app.add_flag("--raw-logging", o.raw_logging, "log to the raw disk (LoggingMode 1)");
    app.add_flag("--no-usb-storage", o.no_usb_storage, "no USB storage device present");
    app.add_flag("--stopped", o.stopped, "configuration not running at start");
    app.add_flag("--any-address", o.any_address,
                 "program blocks at any address without erasing (a bench device; no ECU does this)");
    app.add_option("--replug-ms", o.replug_ms, "absence after a reset, in milliseconds");
    app.add_option("--r8c-block-size", o.r8c_block_size, "bytes of the R8C's upgrade block (hexadecimal)");
}

ecu_config make_config(const ecu_options& o) {
    ecu_config c;
    if (o.mode != "boot" && o.mode != "app") throw std::invalid_argument("--mode: not boot or app: " + o.mode);
    c.mode = o.mode == "boot" ? ecu_mode::boot : ecu_mode::app;
    c.flash_map = !o.any_address;
    const auto serial = parse_serial(o.serial);
    if (!serial) throw std::invalid_argument("--serial: not 8 hexadecimal digits: " + o.serial);
    c.serial = *serial;
    c.app_transferstructs_version = o.version;
    c.flash_device_id = std::uint16_t(hex_value(o.flash_id, "--flash-id", 0xFFFF));
    c.flash_device_id_bytes = std::uint8_t(o.flash_id_bytes);
    c.firmware_version = hex_value(o.firmware, "--firmware", 0xFFFFFFFF);
    if (o.board_model.size() > 8) throw std::invalid_argument("--board-model: more than 8 characters");
    c.board_model = o.board_model;
    c.max_configuration_channels = o.max_channels;
    c.faults = fault_plan::parse(o.faults);
    for (const std::string& ch : o.channels) {
        const auto eq = ch.find('=');
        if (eq == std::string::npos || eq == 0) throw std::invalid_argument("--channel: not NAME=VALUE: " + ch);
        try {
            c.extra_channels.push_back({ch.substr(0, eq), std::stof(ch.substr(eq + 1))});
        } catch (const std::exception&) {
            throw std::invalid_argument("--channel: not a number: " + ch);
        }
    }
    c.absent_channels = o.absent_channels;
    for (const std::string& path : o.log_files) {
        const std::filesystem::path p(path);
        log_file f;
        f.short_name = short_name_of(p);
        const std::string name = p.filename().string();
        f.long_name.assign(name.begin(), name.end());
        f.data = read_file(path);
        c.log_files.push_back(std::move(f));
    }
    for (const std::string& name : o.log_dirs) {
        log_file d;
        d.short_name = short_name_of(name);
        d.long_name.assign(name.begin(), name.end());
        d.attributes = 0x10;
        c.log_files.push_back(std::move(d));
    }
    for (const std::string& spec : o.raw_files) c.raw_files.push_back(raw_file_of(spec));
    for (const std::string& spec : o.memory) {
        const auto eq = spec.find('=');
        if (eq == std::string::npos) throw std::invalid_argument("--memory: not HEXADDRESS=FILE: " + spec);
        c.memory[hex_value(spec.substr(0, eq), "--memory", 0xFFFFFFFF)] = read_file(spec.substr(eq + 1));
    }
    std::uint64_t free_from = 0;  // the regions are read by address: none may overlap the next
    for (const auto& [at, data] : c.memory) {
        if (at < free_from) throw std::invalid_argument("--memory: regions overlap at " + hex32(at));
        free_from = std::uint64_t(at) + data.size();
        if (free_from > 0x100000000u) throw std::invalid_argument("--memory: region at " + hex32(at) + " passes 4 GB");
    }
    if (o.raw_group_blocks < 1 || o.raw_group_blocks > 7)
        throw std::invalid_argument("--raw-group-blocks: not 1 to 7");
    c.raw_group_blocks = o.raw_group_blocks;
    c.raw_logging = o.raw_logging;
    c.usb_storage_present = !o.no_usb_storage;
    c.configuration_running = !o.stopped;
    c.reset_replug_ms = o.replug_ms;
    c.r8c.block_size = hex_value(o.r8c_block_size, "--r8c-block-size", 0x10000);
    return c;
}

namespace {

// Words split at blanks; "a quoted text" is one word.
std::vector<std::string> split_words(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, any = false;
    for (const char c : text) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (c == ' ' && !quoted) {
            if (any) words.push_back(word);
            word.clear();
            any = false;
        } else {
            word.push_back(c);
            any = true;
        }
    }
    if (quoted) throw std::invalid_argument("ecusim options: unterminated quote");
    if (any) words.push_back(word);
    return words;
}

}  // namespace

ecu_config config_from_text(const std::string& text) {
    const std::vector<std::string> args = split_words(text);
    CLI::App app("ecusim");
    ecu_options o;
    add_ecu_options(app, o);
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::Error& e) {
        throw std::invalid_argument(std::string("ecusim options: ") + e.what());
    }
    return make_config(o);
}

}  // namespace ecusim
