// The program's exception family. Thrown by value, caught by reference.
//
// The classes nested in the connection manager and in the two package readers are declared in
// the scopes below; `connection_manager`, `pak_file` and `pak_group_file` derive from their
// scope, so `qx::connection_manager::exception_not_found` and `qx::pak_file::exception_invalid`
// name these classes without the owners having to be known here.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

namespace qx {

class exception : public std::exception {
public:
    std::uint32_t code = 0;  // the status that caused the failure; 0 when there is none
    std::string message;     // text for the user

    exception() = default;
    explicit exception(std::string message_text) : message(std::move(message_text)) {}
    exception(std::string message_text, std::uint32_t status)
        : code(status), message(std::move(message_text)) {}
    exception(const exception&) = default;
    exception& operator=(const exception&) = default;
    ~exception() override;

    const char* what() const noexcept override;
};

// Declares `name` as a subclass of `base` with the constructors of the root.
#define QX_EXCEPTION_CLASS(name, base) \
    class name : public base {         \
        using base_class = base;       \
                                       \
    public:                            \
        using base_class::base_class;  \
    }

QX_EXCEPTION_CLASS(exception_vector_full, ::qx::exception);

// Scope of the connection manager's exceptions.
struct connection_manager_exceptions {
    QX_EXCEPTION_CLASS(exception, ::qx::exception);

    QX_EXCEPTION_CLASS(exception_already_connected, exception);
    QX_EXCEPTION_CLASS(exception_connection_failed, exception);
    QX_EXCEPTION_CLASS(exception_not_connected, exception);

    QX_EXCEPTION_CLASS(exception_target_version_mismatch, exception);
    QX_EXCEPTION_CLASS(exception_target_version_newer, exception_target_version_mismatch);
    QX_EXCEPTION_CLASS(exception_target_version_older, exception_target_version_mismatch);

    QX_EXCEPTION_CLASS(exception_communication_error, exception);
    QX_EXCEPTION_CLASS(exception_command_error, exception_communication_error);
    QX_EXCEPTION_CLASS(exception_bad_state, exception_command_error);
    QX_EXCEPTION_CLASS(exception_not_found, exception_command_error);
    QX_EXCEPTION_CLASS(exception_found, exception_command_error);
    QX_EXCEPTION_CLASS(exception_mismatch, exception_command_error);

    QX_EXCEPTION_CLASS(exception_security_error, exception_command_error);
    QX_EXCEPTION_CLASS(exception_security_null, exception_security_error);
    QX_EXCEPTION_CLASS(exception_security_size, exception_security_error);
    QX_EXCEPTION_CLASS(exception_security_key, exception_security_error);
    QX_EXCEPTION_CLASS(exception_security_memory, exception_security_error);
    QX_EXCEPTION_CLASS(exception_security_fatal, exception_security_error);
    QX_EXCEPTION_CLASS(exception_security_file_not_found, exception_security_error);

    QX_EXCEPTION_CLASS(exception_argument, exception);
    QX_EXCEPTION_CLASS(exception_invalid_pin, exception_argument);
    QX_EXCEPTION_CLASS(exception_invalid_buffer, exception_argument);

    // A channel name lookup found nothing; the message stays empty, the name is kept here.
    class exception_invalid_channel : public exception {
    public:
        using exception::exception;
        exception_invalid_channel() = default;
        exception_invalid_channel(const exception_invalid_channel&) = default;
        exception_invalid_channel& operator=(const exception_invalid_channel&) = default;
        ~exception_invalid_channel() override;

        static exception_invalid_channel for_channel(std::string name);

        std::string channel_name;  // the name that was looked up
        std::string detail;        // stays empty
    };
};

// Scope of the package reader's exceptions.
struct pak_file_exceptions {
    QX_EXCEPTION_CLASS(exception, ::qx::exception);
    QX_EXCEPTION_CLASS(exception_file_not_found, exception);
    QX_EXCEPTION_CLASS(exception_invalid, exception);
    QX_EXCEPTION_CLASS(exception_out_of_memory, exception);
    QX_EXCEPTION_CLASS(exception_out_of_bounds, exception);
};

// Scope of the package-group reader's exceptions.
struct pak_group_file_exceptions {
    QX_EXCEPTION_CLASS(exception, ::qx::exception);
    QX_EXCEPTION_CLASS(exception_out_of_bounds, exception);
    QX_EXCEPTION_CLASS(exception_file_not_found, exception);
    QX_EXCEPTION_CLASS(exception_invalid, exception);
};

#undef QX_EXCEPTION_CLASS

}  // namespace qx
