// The live progress line on a terminal: one line on standard error that is
// redrawn in place and cleared before anything else reaches standard output
// or standard error. Clearing needs no help from the many places that print:
// while the line is in use, stdout and stderr are streams of the same
// buffering whose every write first clears a line that is shown. When
// standard error is not a terminal nothing here is used, and the streams
// stay what they were.
#ifndef BRIX_LIVE_LINE_H
#define BRIX_LIVE_LINE_H

#include <string>

// Puts the clearing streams in place of stdout and stderr when standard
// error is a terminal; false (and nothing changed) otherwise. Before any
// other thread prints.
bool begin_live_line();
// Whether begin_live_line put the line in use.
bool live_line_active();
// Replaces what the line shows with `text` (cut to the terminal's width).
void show_live_line(const std::string& text);
// Clears the line if it is shown; the streams stay in place.
void clear_live_line();

#endif  // BRIX_LIVE_LINE_H
