// `flashdesk capture show FILE [--fields] [--json]`: a capture (TRELINK_CAPTURE / --capture)
// as one line per exchange: time, command, request size, status, response size, latency; with
// --fields every field of request and response decoded by the catalogue, named as `flashdesk
// describe` names them; with --json one object per line. A capture that is cut short or
// damaged is read up to there, with a note.
#pragma once

#include <iosfwd>
#include <string>

#include <CLI/CLI.hpp>

namespace qx::console {

struct capture_show_options {
    std::string file;
    bool fields = false;
    bool json = false;
};

// The exit status: 0 when the file was read (a note says where a damaged one ends), 1 when it
// is no capture.
int show_capture(const capture_show_options& o, std::ostream& out, std::ostream& err);

void add_capture_command(CLI::App& app);

}  // namespace qx::console
