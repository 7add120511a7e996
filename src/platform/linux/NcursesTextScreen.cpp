// The text screen on ncursesw: raw keys (Ctrl-C is a key while the screen is open), wide
// characters through the locale's UTF-8 encoding, and the terminal's hang-up seen by poll().
#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <langinfo.h>
#include <poll.h>
#include <unistd.h>

#include <clocale>
#include <cstring>
#include <cwchar>
#include <string>

#include "vantelkit/platform/TextScreen.h"

namespace vantelkit::platform {

namespace {

// Decodes UTF-8 text one character at a time, independent of the locale; false at a byte
// that does not begin a valid sequence.
bool nextCharacter(std::string_view text, std::size_t& at, char32_t& character) {
  const auto byte = static_cast<unsigned char>(text[at]);
  int length = byte < 0x80 ? 1 : (byte >> 5) == 0x6 ? 2 : (byte >> 4) == 0xE ? 3 : (byte >> 3) == 0x1E ? 4 : 0;
  if (length == 0 || at + static_cast<std::size_t>(length) > text.size()) return false;
  character = length == 1 ? byte : byte & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + static_cast<std::size_t>(i)]);
    if ((next & 0xC0) != 0x80) return false;
    character = (character << 6) | (next & 0x3F);
  }
  at += static_cast<std::size_t>(length);
  return true;
}

int cellsOfCharacter(char32_t character) {
  const int width = wcwidth(static_cast<wchar_t>(character));
  return width < 0 ? 1 : width;
}

class NcursesTextScreen final : public TextScreen {
 public:
  explicit NcursesTextScreen(SCREEN* screen) : _screen(screen) {
    raw();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    curs_set(0);
    set_escdelay(25);
  }
  ~NcursesTextScreen() override {
    endwin();
    delscreen(_screen);
  }
  NcursesTextScreen(const NcursesTextScreen&) = delete;
  NcursesTextScreen& operator=(const NcursesTextScreen&) = delete;

  int rows() const override { return LINES; }
  int columns() const override { return COLS; }
  void clear() override { erase(); }

  void draw(int row, int column, std::string_view text, Style style, int width) override {
    if (row < 0 || row >= LINES || column < 0 || column >= COLS) return;
    if (width > COLS - column) width = COLS - column;
    std::wstring wide;
    int cells = 0;
    for (std::size_t at = 0; at < text.size();) {
      char32_t character = 0;
      if (!nextCharacter(text, at, character)) {
        character = U'\uFFFD';
        ++at;
      }
      const int needed = cellsOfCharacter(character);
      if (cells + needed > width) break;
      cells += needed;
      wide += static_cast<wchar_t>(character);
    }
    const attr_t attributes = style == Style::reverse ? A_REVERSE
                              : style == Style::bold  ? A_BOLD
                              : style == Style::dim   ? A_DIM
                                                      : A_NORMAL;
    attrset(attributes);
    mvaddnwstr(row, column, wide.c_str(), static_cast<int>(wide.size()));
    if (style == Style::reverse && cells < width) {
      // A highlighted row is highlighted to its end.
      for (int i = cells; i < width; ++i) addch(' ');
    }
    attrset(A_NORMAL);
  }

  void refresh() override { ::refresh(); }

  int readKey(int milliseconds) override {
    timeout(milliseconds);
    wint_t key = 0;
    const int kind = wget_wch(stdscr, &key);
    if (kind == ERR) return hungUp() ? closed : noKey;
    if (kind == KEY_CODE_YES) {
      switch (key) {
        case KEY_RESIZE: return resized;
        case KEY_UP: return up;
        case KEY_DOWN: return down;
        case KEY_LEFT: return left;
        case KEY_RIGHT: return right;
        case KEY_PPAGE: return pageUp;
        case KEY_NPAGE: return pageDown;
        case KEY_HOME: return home;
        case KEY_END: return end;
        case KEY_ENTER: return enter;
        case KEY_BACKSPACE: return backspace;
        default: return noKey;
      }
    }
    switch (key) {
      case '\r':
      case '\n': return enter;
      case 8:
      case 127: return backspace;
      case 27: return escape;
      case 3: return interrupt;
      default: return static_cast<int>(key);
    }
  }

 private:
  static bool hungUp() {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    return poll(&input, 1, 0) > 0 && (input.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
  }
  SCREEN* _screen;
};

}  // namespace

int TextScreen::cellsOf(std::string_view text) {
  int cells = 0;
  for (std::size_t at = 0; at < text.size();) {
    char32_t character = 0;
    if (!nextCharacter(text, at, character)) return 0;
    cells += cellsOfCharacter(character);
  }
  return cells;
}

std::unique_ptr<TextScreen> TextScreen::open() {
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) return nullptr;
  // Wide characters need a UTF-8 locale for the character type; C.UTF-8 when the
  // environment names none.
  std::setlocale(LC_CTYPE, "");
  if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");
  SCREEN* screen = newterm(nullptr, stdout, stdin);
  if (!screen) return nullptr;
  set_term(screen);
  return std::make_unique<NcursesTextScreen>(screen);
}

}  // namespace vantelkit::platform
