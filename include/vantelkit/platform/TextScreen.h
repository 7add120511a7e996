// A full-screen text interface on the process's terminal: rows of text drawn at a place in
// a style, and keys read one at a time (with the terminal's resize and hang-up as keys of
// their own). Text is UTF-8 without control characters; a cell is a column of the terminal.
// Thread safety: one owner at a time, on one thread; only one screen may be open.
#pragma once

#include <memory>
#include <string_view>

namespace vantelkit::platform {

class TextScreen {
 public:
  // Keys beyond the characters (which readKey() answers as their code points).
  enum Key : int {
    noKey = -1,   // nothing was pressed in the time given
    resized = -2, // the terminal changed its size; rows() and columns() tell the new one
    closed = -3,  // the terminal is gone (hung up)
    up = -10,
    down = -11,
    left = -12,
    right = -13,
    pageUp = -14,
    pageDown = -15,
    home = -16,
    end = -17,
    enter = -18,
    backspace = -19,
    escape = -20,
    interrupt = -21,  // Ctrl-C typed while the screen has the terminal
  };
  enum class Style { normal, reverse, bold, dim };

  virtual ~TextScreen() = default;
  virtual int rows() const = 0;
  virtual int columns() const = 0;
  // Blanks the whole screen (shown at the next refresh()).
  virtual void clear() = 0;
  // Draws text from (row, column) on, cut to fit within width cells and the screen's edge.
  virtual void draw(int row, int column, std::string_view text, Style style, int width) = 0;
  // Shows what was drawn since the last refresh.
  virtual void refresh() = 0;
  // Waits up to milliseconds for a key: a character, a Key, or noKey.
  virtual int readKey(int milliseconds) = 0;

  // The cells text takes on the terminal (0 for text that is not valid UTF-8).
  static int cellsOf(std::string_view text);

  // The terminal of stdin and stdout as a screen (given back to the shell as it was when the
  // screen is destroyed), or null when either is not a terminal.
  static std::unique_ptr<TextScreen> open();
};

}  // namespace vantelkit::platform
