#include "app/console/command_line.h"

#include <exception>
#include <ostream>

#include "app/console/answer_timeout.h"

namespace qx::console {

int run_command_line(CLI::App& app, int argc, char** argv, std::ostream& err) {
    try {
        app.parse(argc, argv);
        return 0;
    } catch (const CLI::ParseError& e) {
        return exit_status(app, e);  // usage errors, the commands' own exit statuses, a missed answer
    } catch (const std::exception& e) {
        err << "flashdesk: stopped by an unexpected failure: " << e.what() << std::endl;
    } catch (...) {
        err << "flashdesk: stopped by an unexpected failure." << std::endl;
    }
    return 1;
}

}  // namespace qx::console
