#include "app/console/ecu_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "app/console/command_line.h"
#include "app/console/console_link.h"
#include "app/console/ecu_command.h"
#include "app/console/job_output.h"
#include "app/console/json_output.h"
#include "app/console/visible_text.h"
#include "core/connection_manager.h"
#include "pak/crc32c.h"

namespace qx::console {

namespace {

using json = nlohmann::ordered_json;

// Every record line starts with this; the number is the line format's version.
constexpr std::string_view marker = "{\"flashdesk_record\":1,";

std::string utc_text(ecu_record::clock::time_point t) {
    const std::time_t seconds = ecu_record::clock::to_time_t(t);
    std::tm tm{};
    ::gmtime_r(&seconds, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

ecu_record::clock::time_point utc_time(const std::string& text) {
    std::tm tm{};
    const char* end = ::strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm);
    if (!end || *end) throw std::invalid_argument("not a UTC time: " + text);
    // A year the clock cannot hold (it spans about 292 years either side of 1970) is no time
    // a station wrote.
    const std::time_t seconds = ::timegm(&tm);
    using limit = std::chrono::duration<std::time_t>;
    if (seconds > std::chrono::duration_cast<limit>(ecu_record::clock::duration::max()).count() ||
        seconds < std::chrono::duration_cast<limit>(ecu_record::clock::duration::min()).count())
        throw std::invalid_argument("not a UTC time: " + text);
    return ecu_record::clock::from_time_t(seconds);
}

json number_or_null(const std::optional<std::uint32_t>& v) { return v ? json(*v) : json(nullptr); }

// null, or a whole number that fits 32 bits: a record line never holds a fraction, a negative
// number or a larger one (converting those would be undefined or wrong).
std::optional<std::uint32_t> optional_number(const json& j) {
    if (j.is_null()) return std::nullopt;
    if (!j.is_number_unsigned() || j.get<std::uint64_t>() > 0xFFFFFFFFu)
        throw std::invalid_argument("not a 32-bit number: " + j.dump());
    return std::uint32_t(j.get<std::uint64_t>());
}

std::uint32_t crc_value(const json& j) {
    const std::string text = j.get<std::string>();
    std::size_t used = 0;
    const unsigned long v = text.size() == 10 && text.starts_with("0x") ? std::stoul(text, &used, 16) : 0;
    if (used != text.size()) throw std::invalid_argument("not a CRC-32C: " + text);
    return std::uint32_t(v);
}

std::string system_error(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

// A line that a crash or a power loss cut short: a record line that is not whole JSON, or the
// zeros a file system may leave where data did not reach the disk. A line cut within the
// marker is one only where nothing else could have written it: at the end of the file, or
// fenced off by the next writer, whose record line follows it.
bool torn(const std::string& line, const std::string* next) {
    if (line.find_first_not_of('\0') == std::string::npos) return true;
    if (line.size() < marker.size()) return marker.starts_with(line) && (!next || next->starts_with(marker));
    return line.starts_with(marker) && !json::accept(line);
}

using table_rows = std::vector<std::vector<std::string>>;

// The widest cell of each column.
std::vector<std::size_t> column_widths(const table_rows& rows) {
    std::vector<std::size_t> width;
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (width.size() <= c) width.push_back(0);
            width[c] = std::max(width[c], row[c].size());
        }
    return width;
}

// A row of cells padded to their columns' widths, two spaces apart.
void print_row(const std::vector<std::string>& row, const std::vector<std::size_t>& width, const char* indent,
               std::ostream& out) {
    std::string line = indent;
    for (std::size_t c = 0; c < row.size(); ++c) {
        line += row[c];
        if (c + 1 < row.size()) line += std::string(width[c] - row[c].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
}

std::string optional_text(const std::optional<std::uint32_t>& v, bool hex) {
    if (!v) return "-";
    return hex ? hex8(*v) : std::to_string(*v);
}

bool same_serial(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

}  // namespace

void record_image::measure(std::span<const std::uint8_t> image) {
    size = std::uint32_t(image.size());
    crc32c = qx::crc32c(image);
}

void ecu_record::begin(std::string command_name) {
    command = std::move(command_name);
    start = clock::now();
    device = console_link_device();
}

void ecu_record::found(const connection_manager& manager) {
    target_mode = mode_name(manager.target_mode);
    firmware_version.reset();
    if (manager.is_connected()) firmware_version = manager.firmware_version;
}

void ecu_record::finish(bool updated, std::string failure_text) {
    end = clock::now();
    result = updated ? record_updated : record_failed;
    failure = updated ? std::string() : std::move(failure_text);
}

std::string record_line(const ecu_record& r) {
    json images = json::array();
    for (const record_image& i : r.images)
        images.push_back({{"type", i.type},
                          {"package", i.package},
                          {"author", i.author},
                          {"date", i.date},
                          {"version", number_or_null(i.version)},
                          {"size", number_or_null(i.size)},
                          {"crc32c", i.crc32c ? json(hex8(*i.crc32c)) : json(nullptr)}});
    const json line = {{"flashdesk_record", 1},
                       {"command", r.command},
                       {"start", utc_text(r.start)},
                       {"end", utc_text(r.end)},
                       {"device", r.device},
                       {"serial_number", r.serial_number},
                       {"target_mode", r.target_mode},
                       {"firmware_version", number_or_null(r.firmware_version)},
                       {"images", images},
                       {"result", r.result},
                       {"failure", r.failure}};
    return json_text(line, -1) + '\n';
}

ecu_record parse_record_line(std::string_view line) {
    if (!line.starts_with(marker)) throw std::invalid_argument("not a record line");
    try {
        const json j = json::parse(line);
        ecu_record r;
        r.command = j.at("command").get<std::string>();
        r.start = utc_time(j.at("start").get<std::string>());
        r.end = utc_time(j.at("end").get<std::string>());
        r.device = j.at("device").get<std::string>();
        r.serial_number = j.at("serial_number").get<std::string>();
        r.target_mode = j.at("target_mode").get<std::string>();
        r.firmware_version = optional_number(j.at("firmware_version"));
        for (const json& i : j.at("images")) {
            record_image image{i.at("type").get<std::string>(), i.at("package").get<std::string>(),
                               i.at("author").get<std::string>(), i.at("date").get<std::string>(),
                               optional_number(i.at("version")), optional_number(i.at("size")), std::nullopt};
            if (!i.at("crc32c").is_null()) image.crc32c = crc_value(i.at("crc32c"));
            r.images.push_back(std::move(image));
        }
        r.result = j.at("result").get<std::string>();
        r.failure = j.at("failure").get<std::string>();
        return r;
    } catch (const nlohmann::json::exception& e) {
        throw std::invalid_argument(e.what());
    } catch (const std::out_of_range& e) {  // std::stoul
        throw std::invalid_argument(e.what());
    }
}

record_file::record_file(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);  // read: the last byte
    if (fd_ < 0) throw std::runtime_error(system_error("cannot open the record", path));
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        throw std::runtime_error("cannot use the record " + path + ": not a regular file");
    }
}

record_file::~record_file() {
    if (fd_ >= 0) ::close(fd_);
}

void record_file::append(const ecu_record& r) {
    std::string line = record_line(r);
    // After a line that a crash cut short, this one still starts on a line of its own.
    struct stat st {};
    char last = '\n';
    if (::fstat(fd_, &st) == 0 && st.st_size > 0 && ::pread(fd_, &last, 1, st.st_size - 1) == 1 && last != '\n')
        line.insert(line.begin(), '\n');
    // One write(2): appended whole, never interleaved with another station's line.
    ssize_t written = 0;
    do written = ::write(fd_, line.data(), line.size());
    while (written < 0 && errno == EINTR);
    if (written < 0) throw std::runtime_error(system_error("cannot write to the record", path_));
    if (std::size_t(written) != line.size())
        throw std::runtime_error("the record " + path_ + " took only part of a line (is the disk full?)");
    if (::fsync(fd_) != 0) throw std::runtime_error(system_error("cannot flush the record", path_));
}

bool open_job_record(const std::string& path, job_output& job, std::unique_ptr<record_file>& file) {
    file.reset();
    if (path.empty()) return true;
    try {
        file = std::make_unique<record_file>(path);
        return true;
    } catch (const std::runtime_error& e) {
        job.say(std::cerr, std::string("flashdesk: ") + e.what());
        return false;
    }
}

std::string append_record(record_file* file, const ecu_record& r) {
    if (!file) return {};
    try {
        file->append(r);
        return {};
    } catch (const std::runtime_error& e) {
        return std::string("flashdesk: ") + e.what();
    }
}

int show_record(std::istream& in, const std::string& name, const std::string& serial, std::ostream& out,
                std::ostream& err) {
    // Numbered lines, the empty ones left out.
    std::vector<std::pair<unsigned long, std::string>> lines;
    std::string text;
    for (unsigned long number = 1; std::getline(in, text); ++number)
        if (!text.empty()) lines.emplace_back(number, std::move(text));
    std::vector<ecu_record> records;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto& [number, line] = lines[i];
        if (torn(line, i + 1 < lines.size() ? &lines[i + 1].second : nullptr)) {
            err << name << ": line " << number << " was cut short (a crash while it was written) and is skipped." << std::endl;
            continue;
        }
        try {
            ecu_record r = parse_record_line(line);
            if (serial.empty() || same_serial(r.serial_number, serial)) records.push_back(std::move(r));
        } catch (const std::invalid_argument&) {
            err << "Error: " << name << " is not an ECU record (line " << number << " is not a record line)." << std::endl;
            return 1;
        }
    }
    if (!serial.empty() && records.empty()) {
        err << "No ECU with serial number " << serial << " in " << name << "." << std::endl;
        return 1;
    }
    // One row per ECU, its images indented below it.
    table_rows ecus = {{"start", "end", "command", "serial", "device", "mode", "firmware", "result", "failure"}};
    table_rows images = {{"image", "package", "version", "size", "crc32c", "author", "date"}};
    for (const ecu_record& r : records) {
        ecus.push_back({utc_text(r.start), utc_text(r.end), r.command, r.serial_number.empty() ? "-" : r.serial_number,
                        r.device.empty() ? "-" : r.device, r.target_mode, optional_text(r.firmware_version, true),
                        r.result, r.failure});
        for (const record_image& i : r.images)
            images.push_back({i.type, i.package, optional_text(i.version, false), optional_text(i.size, false),
                              optional_text(i.crc32c, true), i.author, i.date});
    }
    for (table_rows* rows : {&ecus, &images})
        for (auto& row : *rows)
            for (std::string& cell : row) cell = visible(cell);
    const auto ecu_width = column_widths(ecus), image_width = column_widths(images);
    print_row(ecus[0], ecu_width, "", out);
    print_row(images[0], image_width, "  ", out);
    for (std::size_t e = 1, i = 1; e < ecus.size(); ++e) {
        print_row(ecus[e], ecu_width, "", out);
        for (std::size_t n = 0; n < records[e - 1].images.size(); ++n) print_row(images[i++], image_width, "  ", out);
    }
    return 0;
}

void add_record_option(CLI::App* command, std::string& path) {
    command->add_option("--record", path, "append one JSON line per ECU handled to FILE (flashdesk record show FILE)");
}

void add_record_command(CLI::App& app) {
    auto file = std::make_shared<std::string>();
    auto serial = std::make_shared<std::string>();
    CLI::App* record = app.add_subcommand("record", "the record of the ECUs a station handled");
    if (!chosen(*record)) return;
    record->require_subcommand(1);
    CLI::App* show = record->add_subcommand("show", "print a record file (--record) as a table");
    show->add_option("FILE", *file, "the record")->required()->check(CLI::ExistingFile);
    show->add_option("--serial", *serial, "only the lines of this ECU serial number");
    show->callback([file, serial] {
        std::ifstream in(*file, std::ios::binary);
        if (!in) {
            std::cerr << "Error: cannot read " << *file << "." << std::endl;
            throw CLI::RuntimeError(1);
        }
        if (const int rc = show_record(in, *file, *serial, std::cout, std::cerr); rc != 0) throw CLI::RuntimeError(rc);
    });
}

}  // namespace qx::console
