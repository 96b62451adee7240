#include "transfer/messages.h"

#include <cstdarg>
#include <cstdio>

namespace qx::transfer {

namespace {

void to_standard_error(std::string_view caption, std::string_view text) {
    std::fprintf(stderr, "%.*s: %.*s\n", int(caption.size()), caption.data(), int(text.size()),
                 text.data());
}

message_sink current_sink = to_standard_error;
bool suppressed = false;

}  // namespace

message_sink set_message_sink(message_sink sink) {
    message_sink previous = current_sink;
    current_sink = sink ? sink : to_standard_error;
    return previous;
}

void set_messages_suppressed(bool value) {
    suppressed = value;
}
bool messages_suppressed() {
    return suppressed;
}

void show_error(const char* format, ...) {
    if (suppressed) return;
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    current_sink(message_caption, text);
}

}  // namespace qx::transfer
