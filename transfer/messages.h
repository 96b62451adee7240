// The library's error messages. Each goes to the sink with the caption "ERROR!" while
// messages are enabled; by default the sink writes "ERROR!: <text>" to standard error.
#pragma once

#include <string_view>

namespace qx::transfer {

inline constexpr std::string_view message_caption = "ERROR!";

using message_sink = void (*)(std::string_view caption, std::string_view text);

// Replaces the sink; null restores standard error. Returns the previous sink.
message_sink set_message_sink(message_sink sink);
void set_messages_suppressed(bool suppressed);
bool messages_suppressed();

// printf-style; does nothing while messages are suppressed.
void show_error(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace qx::transfer
