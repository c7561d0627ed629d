// The cause of an image writer's failure on its input (internal to the
// storage layer): the writers record why a sparse or gzip image was refused
// so that the install can tell a damaged image from a failing device.
#pragma once

namespace storage_internal {

// Logs the formatted cause and keeps it as image_input_error().
void image_input_failed(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Keeps the cause without logging it (the caller logs its own record).
void image_input_record(const char *format, ...) __attribute__((format(printf, 1, 2)));
void image_input_clear();

} // namespace storage_internal
