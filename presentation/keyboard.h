// keyboard: which character keys are held down. The key callbacks keep it up to date.
#pragma once

class keyboardhdl {
 public:
  unsigned char keystate[256];  // 1 while the key with that character code is down, else 0

  keyboardhdl();
  void keydown(unsigned char key);
  void keyup(unsigned char key);
};

extern keyboardhdl keys;
