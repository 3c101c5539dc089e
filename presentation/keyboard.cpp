// keyboard: the key-state table; see keyboard.h.
// Every 8-bit character code has its entry, so no key can index out of the table.
#include "presentation/keyboard.h"

#include <cstring>

keyboardhdl keys;

keyboardhdl::keyboardhdl() {
  memset(keystate, 0, sizeof keystate);
}

void keyboardhdl::keydown(unsigned char key) {
  keystate[key] = 1;
}

void keyboardhdl::keyup(unsigned char key) {
  keystate[key] = 0;
}
