#include "app/console/command_line.h"

#include <exception>
#include <ostream>

#include "app/console/answer_timeout.h"
#include "app/console/console_link.h"
#include "app/console/job_output.h"
#include "app/console/visible_text.h"

namespace qx::console {

namespace {

std::string& chosen_command() {
    static std::string word;
    return word;
}

}  // namespace

void choose_command(const CLI::App& app, int argc, const char* const* argv) {
    std::string& word = chosen_command();
    word.clear();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") return;
        if (a.size() < 2 || a[0] != '-') {
            word = a;
            return;
        }
        const auto equals = a.find('=');
        const CLI::Option* option = app.get_option_no_throw(a.substr(0, equals));
        if (option && equals == std::string::npos && option->get_expected_min() > 0) ++i;  // its value
    }
}

bool chosen(const CLI::App& command) { return command.get_name() == chosen_command(); }

void share_top_options(CLI::App& app) {
    for (CLI::App* sub : app.get_subcommands({})) {
        sub->fallthrough();
        share_top_options(*sub);
    }
}

int run_command_line(CLI::App& app, int argc, char** argv, std::ostream& err) {
    try {
        app.parse(argc, argv);
        return 0;
    } catch (const CLI::ParseError& e) {
        if (job_ended()) return app.exit(e);  // the job told how it ended itself
        const int status = exit_status(app, e);  // usage errors, the commands' own exit statuses, a missed answer
        // A command that failed (not a usage error) may have failed for want of the named device.
        if (status != 0 && dynamic_cast<const CLI::RuntimeError*>(&e)) report_absent_device(err);
        return status;
    } catch (const std::exception& e) {
        err << "flashdesk: stopped by an unexpected failure: " << visible(e.what()) << std::endl;
    } catch (...) {
        err << "flashdesk: stopped by an unexpected failure." << std::endl;
    }
    return 1;
}

}  // namespace qx::console
