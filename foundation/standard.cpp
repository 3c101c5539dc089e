// standard: the text-file helpers; see standard.h.
// Reads with getc one character at a time so that a lone CR ends a line as well as LF does:
// settings files come from editors on every platform.
#include "foundation/standard.h"

char* better_fgets(char* buf, int size, FILE* stream) {
  int room = size - 1;  // characters that may still be stored, the line end included
  if (room < 0) return nullptr;
  int stored = 0;
  while (room > 0) {
    int c = getc(stream);
    if (c == EOF) {
      // A last line without a line end still counts; a read error never does.
      if (feof(stream) && stored > 0) break;
      return nullptr;
    }
    buf[stored++] = static_cast<char>(c);
    if (c == '\r' || c == '\n') break;
    --room;
  }
  buf[stored] = '\0';
  return buf;
}

char* int_to_char(int value) {
  char* text = new char[20];
  snprintf(text, 20, "%i", value);
  return text;
}

long fsize(FILE* stream) {
  fseek(stream, 0, SEEK_END);
  long size = ftell(stream);
  fseek(stream, 0, SEEK_SET);
  return size;
}
