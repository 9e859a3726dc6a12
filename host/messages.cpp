#include "messages.h"

#include <cstdio>

namespace vendral {

void format_message(char *buffer, message_id id, int first, int second) {
    // Texts without values ignore the surplus arguments.
    std::snprintf(buffer, message_buffer_size, message_of(id).text, module_prefix, first, second);
}

}  // namespace vendral
